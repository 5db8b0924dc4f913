#include "service_host.hpp"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "control_handler.hpp"
#include "data_folders.hpp"
#include "main_loop.hpp"
#include "replace_recovery.hpp"
#include "service_duties.hpp"
#include "service_installation.hpp"
#include "service_log.hpp"
#include "stop_signal.hpp"
#include "supervision_records.hpp"
#include "system_error.hpp"
#include "unique_resource.hpp"

namespace kv {
namespace {

constexpr DWORD accepted_controls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE;

struct ServiceContext {
    StopSignal stop;
    SupervisionRecords records;
    SteadyClock clock;

    // The dispatcher returns as soon as "stopped" is reported, and returning from main would
    // then cut the service main short before its last log line; main waits for this instead.
    std::mutex main_mutex;
    std::condition_variable main_finished;
    bool main_running = false;
};

constexpr auto service_main_finish_limit = std::chrono::seconds(5);

// The service manager calls the service main without a context pointer, so the one
// process-wide context lives here; it is never destroyed while callbacks may run.
ServiceContext& service_context() {
    static ServiceContext* context = new ServiceContext();
    return *context;
}

DWORD WINAPI on_control(DWORD control, DWORD event_type, LPVOID, LPVOID) {
    ServiceContext& context = service_context();
    return handle_control(control, event_type, context.stop, context.records.authorized_exit, context.clock);
}

bool report_state(SERVICE_STATUS_HANDLE handle, DWORD state, DWORD controls) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = controls;
    return SetServiceStatus(handle, &status) != FALSE;
}

void stopped_with_error() { service_log("service stopped with error: " + std::string(service_manager_error_text)); }

void WINAPI service_main(DWORD, LPWSTR*) {
    ServiceContext& context = service_context();
    {
        std::lock_guard lock(context.main_mutex);
        context.main_running = true;
    }
    ScopeGuard announce_finished([&context] {
        {
            std::lock_guard lock(context.main_mutex);
            context.main_running = false;
        }
        context.main_finished.notify_all();
    });
    const LogSink log = service_log;
    const SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExW(service_name, on_control, nullptr);
    if (handle == nullptr) return stopped_with_error();
    if (!report_state(handle, SERVICE_RUNNING, accepted_controls)) return stopped_with_error();
    log("service running");
    if (Status secured = secure_data_folders(log); !secured) log("data folders not secured: " + secured.error());
    // Before anything runs the client: a replace cut short when the service last died.
    recover_interrupted_replace(service_update_environment());

    start_privileged_pipe_listener(context.records, log);
    run_main_loop(context.stop, make_service_duties(context.records, log), log);
    stop_launched_watchdog(context.records, log);

    if (report_state(handle, SERVICE_STOPPED, 0)) {
        log("service stopped");
    } else {
        stopped_with_error();
    }
}

}  // namespace

int run_service_dispatcher() {
    static wchar_t name[] = L"KestrivonClientUpdater";
    const SERVICE_TABLE_ENTRYW table[] = {{name, service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        std::fprintf(stderr, "service dispatcher failed: %s\n", std::string(service_manager_error_text).c_str());
        return 1;
    }
    ServiceContext& context = service_context();
    std::unique_lock lock(context.main_mutex);
    context.main_finished.wait_for(lock, service_main_finish_limit, [&context] { return !context.main_running; });
    return 0;
}

}  // namespace kv
