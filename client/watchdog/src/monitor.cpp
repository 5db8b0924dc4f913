#include "monitor.hpp"

#include <windows.h>

#include <chrono>
#include <filesystem>

#include "client_monitor.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "log_output.hpp"
#include "process_scan.hpp"
#include "unique_resource.hpp"
#include "watchdog_state.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

bool metadata_readable(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

// The updates folder is looked up afresh on every question: ProgramData may change.
class UpdatesFolder final : public UpdateMarkerFiles {
public:
    bool exists(std::string_view name) override { return metadata_readable(path_of(name)); }
    std::optional<std::chrono::system_clock::time_point> modified(std::string_view name) override {
        return file_modified_time(path_of(name));
    }
    void remove(std::string_view name) override { DeleteFileW(path_of(name).c_str()); }

private:
    static std::filesystem::path path_of(std::string_view name) { return updates_dir() / std::string(name); }
};

class StationMonitorEnvironment final : public MonitorEnvironment {
public:
    explicit StationMonitorEnvironment(std::wstring client_path) : client_path_(std::move(client_path)) {}

    bool exit_requested() override { return watchdog_state().exit_requested.load(); }
    bool client_running() override { return is_client_running(client_path_); }
    bool shutting_down() override { return GetSystemMetrics(SM_SHUTTINGDOWN) != 0; }
    bool client_update_pending() override { return kv::client_update_pending(log_); }
    void clear_pending_marker() override { kv::clear_pending_marker(log_); }
    Result<std::uint32_t> restart_client() override { return kv::restart_client(client_path_, log_); }
    void sleep(std::chrono::milliseconds duration) override { Sleep(static_cast<DWORD>(duration.count())); }
    MonotonicTime now() override { return std::chrono::steady_clock::now(); }

private:
    std::wstring client_path_;
    WatchdogLog log_ = watchdog_log();
};

}  // namespace

bool client_update_pending(const WatchdogLog& log) {
    UpdatesFolder folder;
    return client_update_pending(folder, std::chrono::system_clock::now(), log);
}

void clear_pending_marker(const WatchdogLog& log) {
    const auto marker = updates_dir() / std::string(update_marker_name);
    if (!metadata_readable(marker)) return;
    if (!DeleteFileW(marker.c_str())) {
        log(LogStream::err, "failed to clear timed-out client update marker " + narrow(marker.wstring()) + ": " + last_error_text());
    }
}

Result<std::uint32_t> restart_client(const std::wstring& client_path, const WatchdogLog& log) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(client_path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
        return fail("CreateProcess failed: " + last_error_text());
    }
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);
    log(LogStream::out, "Restarted client, new PID: " + std::to_string(created.dwProcessId));
    return static_cast<std::uint32_t>(created.dwProcessId);
}

void run_monitor(std::wstring client_path) {
    StationMonitorEnvironment environment(std::move(client_path));
    run_client_monitor(environment, watchdog_log());
}

}  // namespace kv
