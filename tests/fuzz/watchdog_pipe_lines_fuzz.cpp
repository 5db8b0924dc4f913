// The watchdog pipe's framer and message parser on arbitrary bytes, cut into reads of any size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "line_framer.hpp"
#include "pipe_message.hpp"
#include "text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first byte picks the read size, as a pipe delivers chunks of its own choosing.
    const std::size_t step = size == 0 ? 1 : 1 + static_cast<std::uint8_t>(bytes[0]) % 64;
    // The second picks a line limit small enough to be reached within the fuzzer's inputs.
    const std::size_t limit = size < 2 ? kv::max_line_bytes : 1 + static_cast<std::uint8_t>(bytes[1]);
    kv::LineFramer framer(limit);
    std::size_t line_feeds = 0, lines = 0, overlong = 0;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::string_view chunk = bytes.substr(at, step);
        for (const char c : chunk) line_feeds += c == '\n';
        framer.append(chunk);
        while (const auto framed = framer.next_line()) {
            const std::string& line = framed->text;
            if (kv::utf8_lossy(line) != line) __builtin_trap();  // always valid UTF-8
            if (framed->overlong) {
                ++overlong;
                if (!line.ends_with("...") || line.size() > 64 * 4 + 3) __builtin_trap();
                if (kv::parse_framed_line(*framed) != kv::PipeMessage{kv::PipeMessageKind::Unknown, 0, line}) __builtin_trap();
                continue;
            }
            ++lines;
            if (line.size() > limit) __builtin_trap();
            if (line.empty() || line.find('\n') != std::string::npos) __builtin_trap();
            if (kv::trim_unicode_white_space(line) != line) __builtin_trap();
            const kv::PipeMessage message = kv::parse_pipe_message(line);
            if (message.kind == kv::PipeMessageKind::Unknown && message.text != line) __builtin_trap();
            if (message.kind == kv::PipeMessageKind::Pid && !line.starts_with("PID:")) __builtin_trap();
            if (message.kind == kv::PipeMessageKind::Pid &&
                kv::parse_pipe_message("PID:" + std::to_string(message.pid)) != message) {
                __builtin_trap();
            }
            if (message.kind == kv::PipeMessageKind::Auth && "AUTH:" + message.text != line) __builtin_trap();
            (void)kv::pipe_message_kind_name(message.kind);
            (void)kv::needs_authentication(message.kind);
        }
        if (framer.pending_bytes() > limit) __builtin_trap();
    }
    if (lines > line_feeds || overlong > line_feeds + 1) __builtin_trap();
    return 0;
}
