// Runs the session launcher where it really runs: inside a LocalSystem service. Installed by
// a test with the image path `"launch-probe.exe" "{program}" "{result file}"`; writes the
// launcher's outcome ("pid={}" or "error={}") and any log lines to the result file.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "session_launcher.hpp"
#include "win_text.hpp"

namespace {

std::wstring program;
std::wstring result_file;
SERVICE_STATUS_HANDLE status_handle = nullptr;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI on_control(DWORD, DWORD, LPVOID, LPVOID) { return NO_ERROR; }

void WINAPI probe_main(DWORD, LPWSTR*) {
    status_handle = RegisterServiceCtrlHandlerExW(L"KestrivonLaunchProbe", on_control, nullptr);
    report(SERVICE_RUNNING);
    std::string lines;
    const auto launched = kv::launch_in_console_session(program, std::filesystem::path(program).parent_path(),
                                                        [&](std::string_view line) { lines += "log=" + std::string(line) + "\n"; });
    lines += launched ? "pid=" + std::to_string(*launched) + "\n" : "error=" + launched.error() + "\n";
    {
        std::ofstream out(std::filesystem::path(result_file + L".tmp"), std::ios::binary | std::ios::trunc);
        out << lines;
    }
    MoveFileExW((result_file + L".tmp").c_str(), result_file.c_str(), MOVEFILE_REPLACE_EXISTING);
    report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    program = argv[1];
    result_file = argv[2];
    static wchar_t name[] = L"KestrivonLaunchProbe";
    const SERVICE_TABLE_ENTRYW table[] = {{name, probe_main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
