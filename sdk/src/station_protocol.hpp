#pragma once
// Both pipes' wire formats as the client sees them, without Windows: the request framing and
// reply parsing of the privileged pipe, the lines of the watchdog pipe, the token's form.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "station_answer.hpp"

namespace kv::station {

inline constexpr std::size_t request_limit = KV_REQUEST_LIMIT;
inline constexpr std::size_t token_length = KV_TOKEN_LENGTH;

// KV_OK when the bytes may go out as one request; else why nothing is sent.
Answer check_request(std::string_view request);

// The message as read, LF included: KV_OK for "OK" or "OK {detail}", KV_ERR_REPLY for
// "ERR {text}", each with the line without its LF; KV_ERR_PROTOCOL for anything else.
Answer parse_reply(std::string_view message);

// The count of "OK {n}" (DNSPOLICY); nothing when the line carries no such count.
std::optional<unsigned long> reply_count(std::string_view ok_line);

// "OK queued" -> false, "OK in progress" -> true; nothing for any other line.
std::optional<bool> ensure_in_progress(std::string_view ok_line);

// The token file's bytes: KV_OK with the token when they are exactly 64 lower-case
// hexadecimal characters, KV_ERR_TOKEN with the reason otherwise.
Answer check_token(std::string_view bytes);

// The lines the client writes, LF included; nothing for a value outside the enum.
std::optional<std::string_view> command_line(kv_watchdog_command command);
std::optional<std::string_view> exit_line(kv_watchdog_exit_command command);

inline constexpr std::string_view ready_line = "WATCHDOG_READY";
inline constexpr std::string_view exit_ack_line = "EXIT_ACK";

// Cuts the watchdog's bytes into lines, each handed out without its LF, as sent.
class WatchdogLines {
public:
    void append(std::string_view chunk) { pending_.append(chunk); }
    std::optional<std::string> next_line();

private:
    std::string pending_;
};

// Copies `text` into a C caller's buffer of `size` bytes, NUL-terminated, cut at a UTF-8
// character boundary when it does not fit. Nothing happens when `buffer` is null or `size` 0.
void copy_text(std::string_view text, char* buffer, std::size_t size);

// Control characters shown as \n, \r, \xNN, so a stray reply fits in one error line.
std::string visible(std::string_view bytes);

}  // namespace kv::station
