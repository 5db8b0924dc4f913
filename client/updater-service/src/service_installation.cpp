#include "service_installation.hpp"

#include <windows.h>

#include <thread>
#include <vector>

#include "child_process.hpp"
#include "data_folders.hpp"
#include "data_paths.hpp"
#include "service_log.hpp"
#include "system_error.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t display_name[] = L"Kestrivon Client Updater";
constexpr wchar_t description[] = L"Keeps Kestrivon Client updated and running.";
constexpr wchar_t failure_reset_seconds[] = L"86400";
constexpr wchar_t failure_actions[] = L"restart/60000/restart/60000/none/0";
constexpr auto status_poll_interval = 250ms;
constexpr auto start_attempt_limit = 10s;
constexpr int start_attempts = 2;

std::string service_manager_failure(const char* step) { return std::string(step) + std::string(service_manager_error_text); }

// sc.exe by full path in the system folder; its own output goes to the caller's console.
Result<ChildOutcome> run_sc(std::vector<std::wstring> arguments) {
    return run_child({(system_directory() / L"sc.exe").wstring(), std::move(arguments), ChildConsole::inherit, false});
}

bool is_running(const Result<ServiceQuery>& query) {
    if (!query) return false;
    const auto* status = std::get_if<ServiceStatus>(&*query);
    return status != nullptr && status->state == service_state_running;
}

void terminate_process(std::uint32_t pid) {
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process) TerminateProcess(process.get(), 1);
}

}  // namespace

Result<ServiceQuery> query_service() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return fail(service_manager_failure("service manager: "));
    const UniqueServiceHandle service(OpenServiceW(manager.get(), service_name, SERVICE_QUERY_STATUS));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return ServiceQuery{ServiceNotInstalled{}};
        return fail(service_manager_failure("open service: "));
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed)) {
        return fail(service_manager_failure("query service: "));
    }
    ServiceStatus result{status.dwCurrentState, std::nullopt};
    if (status.dwProcessId != 0) result.pid = status.dwProcessId;
    return ServiceQuery{result};
}

bool wait_until_stopped(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (const auto query = query_service()) {
            if (std::holds_alternative<ServiceNotInstalled>(*query)) return true;
            if (std::get<ServiceStatus>(*query).state == service_state_stopped) return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(status_poll_interval);
    }
}

std::wstring service_image_path(const std::wstring& executable) { return L"\"" + executable + L"\" service"; }

Status install_service(const LogSink& log) {
    const auto executable = current_executable();
    if (!executable) return fail("current_exe failed: " + executable.error());
    const std::wstring image_path = service_image_path(executable->wstring());
    // Before the service exists, so a folder a customer made first is taken over in time.
    if (Status secured = secure_data_folders(log); !secured) log("data folders not secured: " + secured.error());

    const auto created = run_sc({L"create", service_name, L"binPath=", image_path, L"start=", L"auto", L"DisplayName=",
                                 display_name});
    if (!created) return fail("sc create failed: " + created.error());
    if (created->exit_code != 0) {
        // Already registered: bring its path and start type up to date instead.
        const auto configured = run_sc({L"config", service_name, L"binPath=", image_path, L"start=", L"auto"});
        if (!configured) return fail("sc config failed: " + configured.error());
        if (configured->exit_code != 0) return fail("sc create/config returned non-zero");
    }
    (void)run_sc({L"description", service_name, description});
    const auto failure = run_sc({L"failure", service_name, L"reset=", failure_reset_seconds, L"actions=", failure_actions});
    if (!failure || failure->exit_code != 0) log("service installed without its restart-on-failure actions");

    for (int attempt = 1; attempt <= start_attempts; ++attempt) {
        (void)run_sc({L"start", service_name});
        const auto deadline = std::chrono::steady_clock::now() + start_attempt_limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (is_running(query_service())) {
                log("service installed and running");
                return ok();
            }
            std::this_thread::sleep_for(status_poll_interval);
        }
        log("service installed but not running after start attempt " + std::to_string(attempt));
    }
    log("service installed but not running; set to start with Windows, it is tried again at the next boot");
    return ok();
}

Status uninstall_service(const LogSink& log) {
    (void)run_sc({L"stop", service_name});
    if (!wait_until_stopped(15s)) {
        log("service did not stop in time; ending its process");
        if (const auto query = query_service()) {
            if (const auto* status = std::get_if<ServiceStatus>(&*query); status != nullptr && status->pid) {
                terminate_process(*status->pid);
            }
        }
        if (!wait_until_stopped(5s)) {
            const auto query = query_service();
            if (!query) return fail("the updater service could not be checked: " + query.error());
            return fail("the updater service did not stop");
        }
    }
    const auto deleted = run_sc({L"delete", service_name});
    const bool deletion_accepted = deleted && deleted->exit_code == 0;

    const auto query = query_service();
    if (!query) return fail("the updater service could not be checked: " + query.error());
    if (std::holds_alternative<ServiceNotInstalled>(*query)) {
        log("service uninstalled");
        return ok();
    }
    if (std::get<ServiceStatus>(*query).state != service_state_stopped) return fail("the updater service started again");
    if (!deletion_accepted) return fail("the updater service stopped but could not be deleted");
    log("service stopped and marked for deletion");
    return ok();
}

}  // namespace kv
