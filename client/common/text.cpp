#include "text.hpp"

#include <cstdint>

namespace kv {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one code point starting at `pos`; advances `pos` past it. An invalid sequence
// (bad lead byte, truncated, overlong, surrogate, beyond U+10FFFF) yields U+FFFD and
// consumes its maximal valid prefix, at least one byte, as the WHATWG decoder does.
char32_t next_code_point(std::string_view text, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t needed = 0;
    char32_t cp = 0;
    unsigned char lower = 0x80, upper = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) lower = 0xA0;
        if (lead == 0xED) upper = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) lower = 0x90;
        if (lead == 0xF4) upper = 0x8F;
    } else {
        ++pos;
        return replacement_character;
    }
    ++pos;
    for (size_t i = 0; i < needed; ++i) {
        if (pos >= text.size() || byte(pos) < lower || byte(pos) > upper) {
            return replacement_character;
        }
        cp = (cp << 6) | (byte(pos) & 0x3F);
        lower = 0x80;
        upper = 0xBF;
        ++pos;
    }
    return cp;
}

}  // namespace

std::string utf16_to_utf8_lossy(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            const char32_t cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            append_utf8(out, cp);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const char32_t cp = next_code_point(text, pos);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::u32string utf8_to_code_points(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) out.push_back(next_code_point(text, pos));
    return out;
}

std::string code_points_to_utf8(std::u32string_view code_points) {
    std::string out;
    out.reserve(code_points.size());
    for (const char32_t cp : code_points) {
        append_utf8(out, (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF ? replacement_character : cp);
    }
    return out;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) append_utf8(out, next_code_point(bytes, pos));
    return out;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

std::string_view trim_trailing_space(std::string_view text) {
    while (!text.empty()) {
        const char c = text.back();
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\v' && c != '\f') break;
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace kv
