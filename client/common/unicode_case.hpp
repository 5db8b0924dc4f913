#pragma once
// Letter case for path comparisons that must agree beyond ASCII: full Unicode lower-casing,
// the same on both programs and in the portable core.
#include <string>
#include <string_view>

namespace kv {

// The full lower-case form of the text: one character may become several (U+0130 becomes
// "i" and U+0307), and a capital sigma at the end of a word becomes the final form U+03C2.
// No language-specific rules. Invalid UTF-8 becomes U+FFFD.
std::string unicode_lower(std::string_view text);

}  // namespace kv
