#include "web_filter_service.hpp"

#include <windows.h>

#include <optional>

#include "child_process.hpp"
#include "data_paths.hpp"
#include "ensure_job_rules.hpp"
#include "file_io.hpp"
#include "service_log.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t web_filter_service_name[] = L"KestrivonWebFilter";
constexpr char web_filter_program[] = "Kestrivon-WebFilter.exe";

struct InstalledService {
    DWORD start_type = 0;
    std::wstring binary_path;
    DWORD state = 0;
};

// Anything that keeps the service from being looked at leads to an install.
std::optional<InstalledService> look_at_service() {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return std::nullopt;
    const UniqueServiceHandle service(
        OpenServiceW(manager.get(), web_filter_service_name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) return std::nullopt;
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (needed == 0) return std::nullopt;
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed)) return std::nullopt;
    SERVICE_STATUS_PROCESS status{};
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        return std::nullopt;
    }
    return InstalledService{config->dwStartType, config->lpBinaryPathName ? config->lpBinaryPathName : L"", status.dwCurrentState};
}

}  // namespace

Result<std::int32_t> run_command_with_timeout(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                              std::chrono::seconds timeout) {
    ChildRun run{program, arguments, ChildConsole::windowless, false, false, ChildTimeLimit{timeout, 100ms, 5s}, {}};
    const auto ran = run_child(run);
    if (!ran) return fail(ran.error());
    if (ran->timed_out) return fail("did not finish in " + std::to_string(timeout.count()) + " s");
    return static_cast<std::int32_t>(ran->exit_code);
}

Result<std::string> ensure_web_filter(const std::filesystem::path& service_folder, const CommandRunner& run) {
    const std::filesystem::path program = service_folder / web_filter_program;
    if (!path_exists(program)) return fail(std::string(web_filter_program) + " is not installed");

    if (const auto service = look_at_service();
        service && service->start_type != SERVICE_DISABLED &&
        web_filter_path_matches(narrow(service->binary_path), narrow(program.wstring()))) {
        switch (web_filter_step_for_state(service->state)) {
            case WebFilterStep::report_running:
                return std::string("running");
            case WebFilterStep::report_pending:
                return std::string("pending");
            case WebFilterStep::start_then_install: {
                const auto started = run((system_directory() / L"sc.exe").wstring(), {L"start", web_filter_service_name}, 30s);
                if (started && *started == 0) return std::string("started");
                break;
            }
            case WebFilterStep::install:
                break;
        }
    }
    const auto installed = run(program.wstring(), {L"install"}, 120s);
    if (!installed) return fail(std::string(web_filter_program) + " install failed: " + installed.error());
    if (*installed != 0) return fail(std::string(web_filter_program) + " install exited with " + std::to_string(*installed));
    return std::string("installed");
}

void run_web_filter_job(const LogSink& log) {
    const auto outcome = [&]() -> Result<std::string> {
        const auto executable = current_executable();
        if (!executable) return fail("current_exe failed: " + executable.error());
        const std::filesystem::path folder = executable->parent_path();
        if (folder.empty() || folder == *executable) return fail("service has no parent directory");
        return ensure_web_filter(folder, run_command_with_timeout);
    }();
    log(outcome ? "privileged web filter ensure ok: " + *outcome : "privileged web filter ensure failed: " + outcome.error());
}

}  // namespace kv
