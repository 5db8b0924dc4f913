#pragma once
// Text is UTF-8 inside the programs and UTF-16 at the Windows interfaces.
#include <string>
#include <string_view>

namespace kv {

// Each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view text);

// Invalid UTF-8 sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// Replaces every invalid UTF-8 sequence by U+FFFD and keeps the rest unchanged.
std::string utf8_lossy(std::string_view bytes);

// One code point per character; invalid UTF-8 sequences become U+FFFD.
std::u32string utf8_to_code_points(std::string_view text);

// Surrogates and values beyond U+10FFFF become U+FFFD.
std::string code_points_to_utf8(std::u32string_view code_points);

std::string ascii_lower(std::string_view text);

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

// Removes trailing white space (space, tab, CR, LF, vertical tab, form feed).
std::string_view trim_trailing_space(std::string_view text);

}  // namespace kv
