#include "service_duties.hpp"

#include "session_launcher.hpp"

namespace kv {

// The update engine, client supervision, the privileged pipe and the watchdog supervisor
// plug in here; until they exist, each duty reports success and does nothing.

Status run_apply_check(const LogSink&) { return ok(); }

LoopDuties make_service_duties(SupervisionRecords&, const LogSink& log) {
    LoopDuties duties;
    duties.apply_check = [log] { return run_apply_check(log); };
    duties.any_update_pending = [] { return false; };
    duties.active_console_session = [] { return active_console_session(); };
    duties.user_signed_in = [](std::uint32_t session) { return session_user_token(session).has_value(); };
    duties.client_supervision_pass = [] {};
    duties.watchdog_pass = [] {};
    return duties;
}

void start_privileged_pipe_listener(SupervisionRecords&, const LogSink&) {}

void stop_launched_watchdog(const LogSink&) {}

}  // namespace kv
