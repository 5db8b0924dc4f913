#include "pipe_message.hpp"
#include "decimal_text.hpp"

#include <array>
#include <optional>
#include <utility>

namespace kv {
namespace {

using K = PipeMessageKind;

constexpr std::array<std::pair<std::string_view, K>, 13> command_words = {{
    {"ADMIN_EXIT", K::AdminExit},
    {"UNINSTALL", K::Uninstall},
    {"SERVER_EXIT", K::ServerExit},
    {"SERVER_SHUTDOWN", K::ServerShutdown},
    {"SERVER_REBOOT", K::ServerReboot},
    {"SERVER_LOGOFF", K::ServerLogoff},
    {"KIOSK_ON", K::KioskOn},
    {"KIOSK_OFF", K::KioskOff},
    {"SHUTDOWN_GUARD_ON", K::ShutdownGuardOn},
    {"SHUTDOWN_GUARD_OFF", K::ShutdownGuardOff},
    {"WIN_KEY_GUARD_ON", K::WinKeyGuardOn},
    {"WIN_KEY_GUARD_OFF", K::WinKeyGuardOff},
    {"HEARTBEAT", K::Heartbeat},
}};

// Decimal 0..4294967295 with one optional "+"; leading zeros are allowed.
std::optional<std::uint32_t> parse_pid_number(std::string_view text) {
    return parse_unsigned32(text);
}

}  // namespace

PipeMessage parse_framed_line(const FramedLine& line) {
    if (line.overlong) return {K::Unknown, 0, line.text};
    return parse_pipe_message(line.text);
}

PipeMessage parse_pipe_message(std::string_view line) {
    if (line.starts_with("PID:")) {
        if (const auto pid = parse_pid_number(line.substr(4))) return {K::Pid, *pid, {}};
        return {K::Unknown, 0, std::string(line)};
    }
    if (line.starts_with("AUTH:")) return {K::Auth, 0, std::string(line.substr(5))};
    for (const auto& [word, kind] : command_words) {
        if (line == word) return {kind, 0, {}};
    }
    return {K::Unknown, 0, std::string(line)};
}

std::string_view pipe_message_kind_name(PipeMessageKind kind) {
    switch (kind) {
        case K::Pid: return "Pid";
        case K::Auth: return "Auth";
        case K::AdminExit: return "AdminExit";
        case K::Uninstall: return "Uninstall";
        case K::ServerExit: return "ServerExit";
        case K::ServerShutdown: return "ServerShutdown";
        case K::ServerReboot: return "ServerReboot";
        case K::ServerLogoff: return "ServerLogoff";
        case K::KioskOn: return "KioskOn";
        case K::KioskOff: return "KioskOff";
        case K::ShutdownGuardOn: return "ShutdownGuardOn";
        case K::ShutdownGuardOff: return "ShutdownGuardOff";
        case K::WinKeyGuardOn: return "WinKeyGuardOn";
        case K::WinKeyGuardOff: return "WinKeyGuardOff";
        case K::Heartbeat: return "Heartbeat";
        case K::Unknown: return "Unknown";
    }
    return "Unknown";
}

bool needs_authentication(PipeMessageKind kind) {
    switch (kind) {
        case K::KioskOff:
        case K::ShutdownGuardOff:
        case K::WinKeyGuardOff:
        case K::AdminExit:
        case K::ServerExit:
        case K::Uninstall:
        case K::ServerShutdown:
        case K::ServerReboot:
        case K::ServerLogoff:
            return true;
        default:
            return false;
    }
}

}  // namespace kv
