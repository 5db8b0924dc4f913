#pragma once
// One line of the watchdog pipe, parsed. Matching is exact and case-sensitive.
#include <cstdint>
#include <string>
#include <string_view>

#include "line_framer.hpp"

namespace kv {

enum class PipeMessageKind {
    Pid,
    Auth,
    AdminExit,
    Uninstall,
    ServerExit,
    ServerShutdown,
    ServerReboot,
    ServerLogoff,
    KioskOn,
    KioskOff,
    ShutdownGuardOn,
    ShutdownGuardOff,
    WinKeyGuardOn,
    WinKeyGuardOff,
    Heartbeat,
    Unknown,
};

struct PipeMessage {
    PipeMessageKind kind = PipeMessageKind::Unknown;
    std::uint32_t pid = 0;  // Pid
    std::string text;       // Auth: the presented token; Unknown: the whole line

    bool operator==(const PipeMessage&) const = default;
};

// `line` is one trimmed line without its line feed.
PipeMessage parse_pipe_message(std::string_view line);

// An overlong line is `Unknown` with its shortened text, whatever it starts with.
PipeMessage parse_framed_line(const FramedLine& line);

// The kind's name as logged for a rejected command, e.g. "AdminExit".
std::string_view pipe_message_kind_name(PipeMessageKind kind);

// Commands that lift a lock-down or end the watchdog wait for a good "AUTH:".
bool needs_authentication(PipeMessageKind kind);

}  // namespace kv
