// Stand-in for the client's installer: records its arguments and the folder it ran from in
// the file named by KV_INSTALLER_REPORT, waits KV_INSTALLER_SECONDS (default 0), exits 0.
// Started by an installed service, which passes no such environment, it takes the wait from
// an argument "/wait=SECONDS" instead.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "win_text.hpp"

int wmain(int argc, wchar_t** argv) {
    wchar_t report_path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"KV_INSTALLER_REPORT", report_path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        const std::filesystem::path report(std::wstring(report_path, length));
        {
            std::ofstream out(std::filesystem::path(report.wstring() + L".tmp"), std::ios::binary | std::ios::trunc);
            out << "pid=" << GetCurrentProcessId() << "\n";
            for (int i = 0; i < argc; ++i) out << "arg=" << kv::narrow(argv[i]) << "\n";
        }
        MoveFileExW((report.wstring() + L".tmp").c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    wchar_t seconds[16];
    if (GetEnvironmentVariableW(L"KV_INSTALLER_SECONDS", seconds, 16) > 0) Sleep(1000 * std::wcstoul(seconds, nullptr, 10));
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.starts_with(L"/wait=")) Sleep(1000 * std::wcstoul(argument.c_str() + 6, nullptr, 10));
    }
    return 0;
}
