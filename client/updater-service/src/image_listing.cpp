#include "image_listing.hpp"

#include "text.hpp"

namespace kv {

bool listing_mentions_image(std::string_view tasklist_output, std::string_view image_name) {
    const std::string listing = ascii_lower(utf8_lossy(tasklist_output));
    return listing.find(ascii_lower(image_name)) != std::string::npos;
}

}  // namespace kv
