// Stand-in for powershell.exe, which Wine lacks. Records its arguments and the KV_VP_*
// variables in the file named by KV_POWERSHELL_REPORT, then behaves as KV_POWERSHELL_MODE says:
//   ok:WORD    a few lines of noise on both outputs, then WORD
//   fail:TEXT  TEXT and a second line on standard error, exit code 1
//   silent-fail exit code 3 with no output
//   flood      4 MiB on each output before "added" (a reader that is not draining both stalls)
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "win_text.hpp"

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t buffer[4096];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    return length == 0 || length >= 4096 ? std::wstring() : std::wstring(buffer, length);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring report = variable(L"KV_POWERSHELL_REPORT");
    if (!report.empty()) {
        std::ofstream out(std::filesystem::path(report), std::ios::binary | std::ios::trunc);
        out << "argc=" << argc - 1 << "\n";
        for (int i = 1; i < argc; ++i) out << "arg" << i << "=" << kv::narrow(argv[i]).substr(0, 60) << "\n";
        for (const wchar_t* name : {L"KV_VP_NAME", L"KV_VP_DIR", L"KV_VP_FILE"}) {
            out << kv::narrow(name) << "=" << kv::narrow(variable(name)) << "\n";
        }
    }
    const std::string mode = kv::narrow(variable(L"KV_POWERSHELL_MODE"));
    if (mode.rfind("ok:", 0) == 0) {
        std::printf("Directory: C:\\ProgramData\r\nprocessed file\r\n");
        std::fprintf(stderr, "WARNING: nothing serious\r\n");
        std::printf("%s\r\n", mode.substr(3).c_str());
        return 0;
    }
    if (mode.rfind("fail:", 0) == 0) {
        std::fprintf(stderr, "%s\r\nAt line:9 char:5\r\n", mode.substr(5).c_str());
        return 1;
    }
    if (mode == "flood") {
        const std::string block(4096, 'x');
        for (int i = 0; i < 1024; ++i) {
            std::fwrite(block.data(), 1, block.size(), stdout);
            std::fwrite(block.data(), 1, block.size(), stderr);
        }
        std::printf("\r\nadded\r\n");
        return 0;
    }
    return 3;
}
