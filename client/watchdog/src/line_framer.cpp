#include "line_framer.hpp"

#include <algorithm>

#include "text.hpp"

namespace kv {
namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Length in bytes of the UTF-8 sequence that starts with `lead` (valid text assumed).
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

char32_t decode_at(std::string_view text, std::size_t pos, std::size_t length) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    switch (length) {
        case 1: return byte(0);
        case 2: return (char32_t(byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3: return (char32_t(byte(0) & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return (char32_t(byte(0) & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) | (char32_t(byte(2) & 0x3F) << 6) |
                   (byte(3) & 0x3F);
    }
}

// How much of an overlong line the log shows.
constexpr std::size_t shown_characters = 64;

std::string shortened(std::string_view line) {
    const std::string_view text = trim_unicode_white_space(line);
    std::size_t end = 0;
    for (std::size_t shown = 0; end < text.size() && shown < shown_characters; ++shown) {
        end += sequence_length(static_cast<unsigned char>(text[end]));
    }
    return std::string(text.substr(0, std::min(end, text.size()))) + "...";
}

}  // namespace

std::string_view trim_unicode_white_space(std::string_view text) {
    // From the front, one whole character at a time.
    while (!text.empty()) {
        const std::size_t length = sequence_length(static_cast<unsigned char>(text[0]));
        if (length > text.size() || !is_white_space(decode_at(text, 0, length))) break;
        text.remove_prefix(length);
    }
    // From the back: step over continuation bytes to the character's first byte.
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80 && text.size() - start < 4) --start;
        const std::size_t length = text.size() - start;
        if (sequence_length(static_cast<unsigned char>(text[start])) != length || !is_white_space(decode_at(text, start, length))) {
            break;
        }
        text.remove_suffix(length);
    }
    return text;
}

void LineFramer::append(std::string_view chunk) {
    if (discarding_) {
        // A line feed byte is never part of a longer UTF-8 sequence, so cutting there is safe.
        const std::size_t end = chunk.find('\n');
        if (end == std::string_view::npos) return;
        chunk.remove_prefix(end + 1);
        discarding_ = false;
    }
    buffer_ += utf8_lossy(chunk);
}

std::optional<FramedLine> LineFramer::next_line() {
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end == std::string::npos) {
            if (buffer_.size() <= line_limit_) return std::nullopt;
            FramedLine cut{shortened(buffer_), true};
            buffer_.clear();
            discarding_ = true;
            return cut;
        }
        if (end > line_limit_) {
            FramedLine cut{shortened(std::string_view(buffer_).substr(0, end)), true};
            buffer_.erase(0, end + 1);
            return cut;
        }
        const std::string line = utf8_lossy(std::string_view(buffer_).substr(0, end + 1));
        buffer_.erase(0, end + 1);
        const std::string_view trimmed = trim_unicode_white_space(line);
        if (!trimmed.empty()) return FramedLine{std::string(trimmed)};
    }
}

}  // namespace kv
