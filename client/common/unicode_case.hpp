#pragma once
// Letter case for path comparisons that must agree with the file system beyond ASCII.
#include <string>
#include <string_view>

namespace kv {

// Lower case by the system's Unicode tables (invariant locale); invalid UTF-8 becomes U+FFFD.
std::string unicode_lower(std::string_view text);

}  // namespace kv
