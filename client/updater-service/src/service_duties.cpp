#include "service_duties.hpp"

#include <memory>

#include "apply_check.hpp"
#include "client_supervision.hpp"
#include "markers.hpp"
#include "privileged_pipe.hpp"
#include "replace_recovery.hpp"
#include "service_command_handlers.hpp"
#include "session_launcher.hpp"

namespace kv {

Status run_apply_once() {
    const UpdateEnvironment environment = service_update_environment();
    recover_interrupted_replace(environment);
    return run_apply_check(environment);
}

LoopDuties make_service_duties(SupervisionRecords& records, const LogSink& log) {
    LoopDuties duties;
    duties.apply_check = [] { return run_apply_check(service_update_environment()); };
    duties.any_update_pending = [] { return any_update_pending(service_update_environment()); };
    duties.active_console_session = [] { return active_console_session(); };
    duties.user_signed_in = [](std::uint32_t session) { return session_user_token(session).has_value(); };
    duties.client_supervision_pass = [supervisor = std::make_shared<ClientSupervisor>(records, log)] { supervisor->run_pass(); };
    duties.watchdog_pass = [&records, log] { service_watchdog_supervisor(records).pass(log); };
    return duties;
}

void start_privileged_pipe_listener(SupervisionRecords& records, const LogSink& log) {
    PrivilegedPipeSettings settings;
    settings.records = &records;
    settings.log = log;
    settings.handlers = service_command_handlers(records);
    start_privileged_pipe(std::move(settings));
}

void stop_launched_watchdog(SupervisionRecords& records, const LogSink& log) {
    service_watchdog_supervisor(records).stop(log);
}

}  // namespace kv
