#pragma once
// What the service does with each control the service manager sends.
#include <cstdint>

#include "monotonic_clock.hpp"
#include "stop_signal.hpp"
#include "supervision_records.hpp"

namespace kv {

// Control codes and session-change reasons as the service manager delivers them.
namespace control_code {
inline constexpr std::uint32_t stop = 1;
inline constexpr std::uint32_t interrogate = 4;
inline constexpr std::uint32_t shutdown = 5;
inline constexpr std::uint32_t session_change = 14;
}  // namespace control_code
namespace session_reason {
inline constexpr std::uint32_t console_connect = 1;
inline constexpr std::uint32_t console_disconnect = 2;
inline constexpr std::uint32_t session_logon = 5;
inline constexpr std::uint32_t session_logoff = 6;
}  // namespace session_reason

inline constexpr std::uint32_t control_answer_ok = 0;
inline constexpr std::uint32_t control_answer_not_implemented = 120;

enum class ControlAction { nothing, post_stop, clear_authorized_exit, announce_authorized_exit };

struct ControlDecision {
    ControlAction action;
    std::uint32_t answer;
};

// The session id of a session event is deliberately not an input: every session acts alike.
ControlDecision decide_control(std::uint32_t control, std::uint32_t event_type);

// Carries out the decision; never blocks on the main loop. Returns the handler's answer.
std::uint32_t handle_control(std::uint32_t control, std::uint32_t event_type, StopSignal& stop,
                             AuthorizedExit& authorized_exit, const MonotonicClock& clock);

}  // namespace kv
