// A program for the tests to start and end: on start it writes its process id and a few
// environment variables to "{own path}.started", then idles for a minute (or for the number of
// seconds given as its argument).
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "win_text.hpp"

namespace {

std::string variable(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    return length == 0 || length >= 1024 ? std::string() : kv::narrow(std::wstring_view(buffer, length));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    wchar_t own_path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    const std::wstring report_path = std::wstring(own_path, length) + L".started";
    // Written aside and renamed, so a reader never sees half a report.
    {
        std::ofstream report(std::filesystem::path(report_path + L".tmp"), std::ios::binary | std::ios::trunc);
        report << "pid=" << GetCurrentProcessId() << "\nUSERPROFILE=" << variable(L"USERPROFILE")
               << "\nUSERNAME=" << variable(L"USERNAME") << "\n";
    }
    MoveFileExW((report_path + L".tmp").c_str(), report_path.c_str(), MOVEFILE_REPLACE_EXISTING);
    Sleep(argc > 1 ? 1000 * std::wcstoul(argv[1], nullptr, 10) : 60000);
    return 0;
}
