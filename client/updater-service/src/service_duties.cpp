#include "service_duties.hpp"

#include "apply_check.hpp"
#include "markers.hpp"
#include "session_launcher.hpp"

namespace kv {

// Client supervision, the privileged pipe and the watchdog supervisor plug in here; until
// they exist, each of those duties does nothing.

Status run_apply_once() { return run_apply_check(service_update_environment()); }

LoopDuties make_service_duties(SupervisionRecords&, const LogSink& log) {
    LoopDuties duties;
    duties.apply_check = [] { return run_apply_check(service_update_environment()); };
    duties.any_update_pending = [] { return any_update_pending(service_update_environment()); };
    duties.active_console_session = [] { return active_console_session(); };
    duties.user_signed_in = [](std::uint32_t session) { return session_user_token(session).has_value(); };
    duties.client_supervision_pass = [] {};
    duties.watchdog_pass = [] {};
    return duties;
}

void start_privileged_pipe_listener(SupervisionRecords&, const LogSink&) {}

void stop_launched_watchdog(const LogSink&) {}

}  // namespace kv
