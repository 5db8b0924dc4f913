#include "control_handler.hpp"

namespace kv {

ControlDecision decide_control(std::uint32_t control, std::uint32_t event_type) {
    switch (control) {
        case control_code::stop:
        case control_code::shutdown:
            return {ControlAction::post_stop, control_answer_ok};
        case control_code::interrogate:
            return {ControlAction::nothing, control_answer_ok};
        case control_code::session_change:
            switch (event_type) {
                case session_reason::console_connect:
                case session_reason::session_logon:
                    return {ControlAction::clear_authorized_exit, control_answer_ok};
                case session_reason::console_disconnect:
                case session_reason::session_logoff:
                    return {ControlAction::announce_authorized_exit, control_answer_ok};
                default:
                    return {ControlAction::nothing, control_answer_ok};
            }
        default:
            return {ControlAction::nothing, control_answer_not_implemented};
    }
}

std::uint32_t handle_control(std::uint32_t control, std::uint32_t event_type, StopSignal& stop,
                             AuthorizedExit& authorized_exit, const MonotonicClock& clock) {
    const ControlDecision decision = decide_control(control, event_type);
    switch (decision.action) {
        case ControlAction::post_stop:
            stop.post();
            break;
        case ControlAction::clear_authorized_exit:
            authorized_exit.clear();
            break;
        case ControlAction::announce_authorized_exit:
            authorized_exit.announce(clock.now());
            break;
        case ControlAction::nothing:
            break;
    }
    return decision.answer;
}

}  // namespace kv
