// Stand-in for Kestrivon-WebFilter.exe. "install" registers the KestrivonWebFilter service
// with Wine's own sc.exe, pointing at this program, and starts it; "service" runs as that
// service until stopped. With KV_WEBFILTER_INSTALL_HANG set, "install" never returns.
#include <windows.h>

#include <string>

#include "child_process.hpp"
#include "command_line.hpp"
#include "data_paths.hpp"

namespace {

SERVICE_STATUS_HANDLE status_handle = nullptr;
HANDLE stop_event = nullptr;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(status_handle, &status);
}

DWORD WINAPI on_control(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP) SetEvent(stop_event);
    return NO_ERROR;
}

void WINAPI filter_main(DWORD, LPWSTR*) {
    status_handle = RegisterServiceCtrlHandlerExW(L"KestrivonWebFilter", on_control, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(stop_event, INFINITE);
    report(SERVICE_STOPPED);
}

int sc(std::vector<std::wstring> arguments) {
    const auto ran = kv::run_child({(kv::system_directory() / L"sc.exe").wstring(), std::move(arguments)});
    return ran ? static_cast<int>(ran->exit_code) : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    wchar_t own[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
    const std::wstring self(own, length);
    if (verb == L"install") {
        if (GetEnvironmentVariableW(L"KV_WEBFILTER_INSTALL_HANG", nullptr, 0) > 0) Sleep(INFINITE);
        sc({L"stop", L"KestrivonWebFilter"});
        sc({L"delete", L"KestrivonWebFilter"});
        Sleep(300);
        if (sc({L"create", L"KestrivonWebFilter", L"binPath=", L"\"" + self + L"\" service", L"start=", L"auto"}) != 0) return 4;
        return sc({L"start", L"KestrivonWebFilter"}) == 0 ? 0 : 5;
    }
    if (verb == L"service") {
        stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        static wchar_t name[] = L"KestrivonWebFilter";
        const SERVICE_TABLE_ENTRYW table[] = {{name, filter_main}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table) ? 0 : 1;
    }
    return 2;
}
