// The one-screen answer to "is the station all right?": the service through the service
// manager, the watchdog and the client in the process list, the markers, the last failure.
#include <windows.h>
#include <tlhelp32.h>

#include "dry_run.hpp"
#include "publish_commands.hpp"
#include "text.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv::publish {
namespace {

constexpr wchar_t service_name[] = L"KestrivonClientUpdater";

std::string state_text(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return "stopped";
        case SERVICE_START_PENDING: return "starting";
        case SERVICE_STOP_PENDING: return "stopping";
        case SERVICE_RUNNING: return "running";
        case SERVICE_CONTINUE_PENDING: return "continuing";
        case SERVICE_PAUSE_PENDING: return "pausing";
        case SERVICE_PAUSED: return "paused";
    }
    return "in state " + std::to_string(state);
}

// The service's line, and whether it runs.
std::pair<std::string, bool> service_line() {
    const std::string name = "service " + narrow(service_name) + ": ";
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return {name + "service manager unavailable: " + last_error_text(), false};
    const UniqueServiceHandle service(OpenServiceW(manager.get(), service_name, SERVICE_QUERY_STATUS));
    if (!service) {
        if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return {name + "not installed", false};
        return {name + "cannot be queried: " + last_error_text(), false};
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        return {name + "cannot be queried: " + last_error_text(), false};
    }
    std::string line = name + state_text(status.dwCurrentState);
    if (status.dwProcessId != 0) line += " (pid " + std::to_string(status.dwProcessId) + ")";
    return {line, status.dwCurrentState == SERVICE_RUNNING};
}

std::string program_line(const std::vector<PROCESSENTRY32W>& processes, const char* label, const wchar_t* image) {
    std::string line = std::string(label) + " " + narrow(image) + ": ";
    std::string found;
    for (const PROCESSENTRY32W& entry : processes) {
        if (_wcsicmp(entry.szExeFile, image) != 0) continue;
        DWORD session = 0;
        found += found.empty() ? "running, pid " : ", pid ";
        found += std::to_string(entry.th32ProcessID);
        if (ProcessIdToSessionId(entry.th32ProcessID, &session)) found += " in session " + std::to_string(session);
    }
    return line + (found.empty() ? "not running" : found);
}

std::vector<PROCESSENTRY32W> process_list() {
    std::vector<PROCESSENTRY32W> processes;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot) return processes;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        processes.push_back(entry);
    }
    return processes;
}

}  // namespace

Status show_station_status(const fs::path& updates, std::ostream& out) {
    const auto [service, running] = service_line();
    out << service << "\n";
    const auto processes = process_list();
    out << program_line(processes, "watchdog", L"Kestrivon-Watchdog.exe") << "\n";
    out << program_line(processes, "client", L"Kestrivon-Client.exe") << "\n";
    out << "updates folder: " << utf8_of(updates) << "\n";
    const auto now = std::chrono::system_clock::now();
    for (const MarkerKind kind : {MarkerKind::update, MarkerKind::installer, MarkerKind::relaunch}) {
        out << "  " << look_at_marker(updates, kind, now).describe() << "\n";
    }
    const FileBytes last_error = read_file_bytes(updates / L"last-error.txt");
    out << "last-error.txt: " << (last_error.ok() ? std::string(trim_trailing_space(last_error.bytes)) : "none") << "\n";
    if (!running) return fail("the service is not running");
    return ok();
}

}  // namespace kv::publish
