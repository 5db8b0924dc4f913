// Stand-in for tasklist.exe, whose Wine version prints nothing. Understands the one form the
// service uses: /FI "IMAGENAME eq {name}" /NH, and prints matching processes as Windows does.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "unique_resource.hpp"
#include "win_text.hpp"

int wmain(int argc, wchar_t** argv) {
    std::wstring image;
    bool header = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"/NH") header = false;
        if (argument == L"/FI" && i + 1 < argc) {
            const std::wstring filter = argv[++i];
            const std::wstring prefix = L"IMAGENAME eq ";
            if (filter.rfind(prefix, 0) != 0) return 1;
            image = filter.substr(prefix.size());
        }
    }
    const kv::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (header) std::printf("\r\nImage Name                     PID Session Name        Session#    Mem Usage\r\n");
    bool any = false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (!image.empty() && lstrcmpiW(entry.szExeFile, image.c_str()) != 0) continue;
        any = true;
        std::printf("%-25s %8lu Console                    1     1,024 K\r\n", kv::narrow(entry.szExeFile).c_str(),
                    static_cast<unsigned long>(entry.th32ProcessID));
    }
    if (!any) std::printf("INFO: No tasks are running which match the specified criteria.\r\n");
    return 0;
}
