#pragma once
// Turns the bytes of the watchdog pipe into trimmed text lines.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Strips Unicode White_Space from both ends of valid UTF-8 text.
std::string_view trim_unicode_white_space(std::string_view text);

class LineFramer {
public:
    // Each chunk as read is decoded on its own, invalid UTF-8 becoming U+FFFD, so a character
    // split across two reads arrives as replacement characters.
    void append(std::string_view chunk);

    // The next complete, trimmed, non-empty line; none while only a partial line is waiting.
    std::optional<std::string> next_line();

    // What is waiting for its line feed, in bytes.
    std::size_t pending_bytes() const { return buffer_.size(); }
    void clear() { buffer_.clear(); }

private:
    std::string buffer_;
};

}  // namespace kv
