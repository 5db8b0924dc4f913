// What a client reads from either pipe comes from whatever serves the name: reply parsing,
// line cutting, the token check and the copy into a C caller's buffer must take anything.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "station_protocol.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const kv::station::Answer reply = kv::station::parse_reply(bytes);
    if (reply.status == KV_OK || reply.status == KV_ERR_REPLY) {
        // A reply line is handed on exactly as sent, without its one LF.
        if (reply.text + "\n" != bytes) __builtin_trap();
        if (reply.status == KV_OK && !reply.text.starts_with("OK")) __builtin_trap();
        if (reply.status == KV_ERR_REPLY && !reply.text.starts_with("ERR ")) __builtin_trap();
        if (kv::station::reply_count(reply.text)) {
            if (reply.text.size() < 4 || reply.text.find_first_not_of("0123456789", 3) != std::string::npos) __builtin_trap();
        }
        (void)kv::station::ensure_in_progress(reply.text);
    } else if (reply.status != KV_ERR_PROTOCOL || reply.text.empty()) {
        __builtin_trap();
    }

    // The lines handed out, each with its LF, rebuild the input up to its last LF.
    kv::station::WatchdogLines lines;
    const std::size_t half = size / 2;
    lines.append(bytes.substr(0, half));
    std::string rebuilt;
    while (auto line = lines.next_line()) rebuilt += *line + "\n";
    lines.append(bytes.substr(half));
    while (auto line = lines.next_line()) rebuilt += *line + "\n";
    const std::size_t last = bytes.rfind('\n');
    if (rebuilt != bytes.substr(0, last == std::string_view::npos ? 0 : last + 1)) __builtin_trap();

    const kv::station::Answer token = kv::station::check_token(bytes);
    if (token.ok() != (size == 64 && bytes.find_first_not_of("0123456789abcdef") == std::string_view::npos)) __builtin_trap();

    // Copied text is a NUL-ended prefix, cut only to keep a UTF-8 sequence whole.
    if (bytes.find('\0') == std::string_view::npos) {
        char buffer[80];
        const std::size_t room = size == 0 ? 1 : 1 + data[0] % (sizeof(buffer) - 1);
        std::memset(buffer, '#', sizeof(buffer));
        kv::station::copy_text(bytes, buffer, room);
        const std::size_t copied = std::strlen(buffer);
        if (copied >= room || buffer[room] != '#' || std::memcmp(buffer, bytes.data(), copied) != 0) __builtin_trap();
        if (copied < size && room - 1 - copied > 3) __builtin_trap();
    }
    return 0;
}
