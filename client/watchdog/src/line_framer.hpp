#pragma once
// Turns the bytes of the watchdog pipe into trimmed text lines.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Strips Unicode White_Space from both ends of valid UTF-8 text.
std::string_view trim_unicode_white_space(std::string_view text);

// The longest line a peer may send, in bytes without its line feed; a pending line may not
// grow beyond it either.
inline constexpr std::size_t max_line_bytes = 64 * 1024;

struct FramedLine {
    std::string text;       // trimmed; for an overlong line its first characters and "..."
    bool overlong = false;  // longer than the limit: dropped up to its line feed, reported once

    bool operator==(const FramedLine&) const = default;
};

class LineFramer {
public:
    explicit LineFramer(std::size_t line_limit = max_line_bytes) : line_limit_(line_limit) {}

    // Each chunk as read is decoded on its own, invalid UTF-8 becoming U+FFFD, so a character
    // split across two reads arrives as replacement characters.
    void append(std::string_view chunk);

    // The next complete, trimmed, non-empty line; none while only a partial line is waiting.
    // A line that outgrows the limit comes out once, as soon as it does, marked overlong; the
    // rest of it is dropped as it arrives. Call after every append until it gives none.
    std::optional<FramedLine> next_line();

    // What is waiting for its line feed, in bytes.
    std::size_t pending_bytes() const { return buffer_.size(); }
    void clear() {
        buffer_.clear();
        discarding_ = false;
    }

private:
    std::string buffer_;
    std::size_t line_limit_;
    bool discarding_ = false;  // inside an overlong line, until its line feed
};

}  // namespace kv
