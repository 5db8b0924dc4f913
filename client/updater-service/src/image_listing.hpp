#pragma once
#include <string_view>

namespace kv {

// Whether tasklist's output names the image: both lower-cased (ASCII), substring match.
// The output is decoded as UTF-8 first, invalid bytes standing for U+FFFD.
bool listing_mentions_image(std::string_view tasklist_output, std::string_view image_name);

}  // namespace kv
