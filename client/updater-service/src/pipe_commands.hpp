#pragma once
// The privileged pipe's wire format: the request bytes become one command word and at most
// one argument; every malformed request gets its exact error text here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv {

// Lossy UTF-8 (each invalid sequence becomes U+FFFD), Unicode white space trimmed at both ends.
std::string decode_request(std::string_view bytes);

// The maximal runs of characters that are not Unicode white space.
std::vector<std::string_view> tokenise_request(std::string_view text);

enum class PipeCommandKind {
    ping,
    heartbeat,
    kill,
    set_time,
    dns_policy_on,
    dns_policy_off,
    supervise_off,
    watchdog_managed,
    watchdog_stop,
    virtual_printer_ensure,
    web_filter_ensure,
};

struct PipeCommand {
    PipeCommandKind kind;
    std::string argument;  // the pid of KILL, the epoch of SETTIME; empty otherwise
    bool operator==(const PipeCommand&) const = default;
};

// The command word is matched case-sensitively, as are the mode words; tokens after the
// argument are ignored.
Result<PipeCommand> parse_pipe_command(std::string_view decoded_request);

}  // namespace kv
