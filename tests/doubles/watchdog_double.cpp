// Stand-in for Kestrivon-Watchdog.exe on the service's side of the link: takes the two
// inherited handles from --service-pipe= and --service-heartbeat= and behaves as the file
// "{own path}.mode" says: "beat" writes "." every 100 ms, "silent" never writes, "exit"
// ends at once. It records its command line in "{own path}.args".
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "win_text.hpp"

namespace {

std::string read_mode(const std::wstring& own) {
    std::ifstream file(std::filesystem::path(own + L".mode"));
    std::string mode;
    std::getline(file, mode);
    return mode.empty() ? "beat" : mode;
}

HANDLE handle_argument(const std::wstring& line, const std::wstring& name) {
    const size_t at = line.find(name);
    if (at == std::wstring::npos) return nullptr;
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(line.c_str() + at + name.size(), nullptr, 10)));
}

}  // namespace

int wmain() {
    wchar_t own_path[MAX_PATH];
    const std::wstring own(own_path, GetModuleFileNameW(nullptr, own_path, MAX_PATH));
    const std::wstring line = GetCommandLineW();
    {
        std::ofstream args(std::filesystem::path(own + L".args"), std::ios::binary | std::ios::trunc);
        args << kv::narrow(line) << "\n";
    }
    const std::string mode = read_mode(own);
    if (mode == "exit") return 0;
    const HANDLE heartbeat = handle_argument(line, L"--service-heartbeat=");
    for (;;) {
        // Started by hand (no heartbeat handle) it just stays, as a standalone watchdog would.
        if (mode == "beat" && heartbeat != nullptr) {
            DWORD written = 0;
            if (!WriteFile(heartbeat, ".", 1, &written, nullptr)) return 0;
        }
        Sleep(100);
    }
}
