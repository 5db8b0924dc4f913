#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Standard alphabet with '=' padding, strict: no white space, correct length and padding.
std::optional<std::string> decode_base64(std::string_view text);

}  // namespace kv
