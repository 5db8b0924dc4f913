// A stand-in for the station client on the watchdog's pipe, built as Kestrivon-Client.exe for
// the tests only. Without arguments (as the watchdog's monitor starts it) it appends
// "started pid=N" to watchdog-peer.log beside it and stays until its parent has ended (two
// minutes at most). With arguments it follows them as a script and prints what it receives:
//   connect            open \\.\pipe\kestrivon-watchdog (retrying up to 10 s)
//   expect-line        read one line                         -> "line TEXT" | "eof" | "timeout"
//   send TEXT          one write; \s \r \n \\ stand for space, CR, LF, backslash
//   fill N             N bytes of "x" without a line feed, in writes of 1024
//   auth               send "AUTH:" and the token from %ProgramData%\Kestrivon\Client\watchdog.token
//   sleep MS
//   read-to-end        read until end of data (10 s at most) -> "rest ESCAPED" then "eof" | "timeout"
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "../doubles/script_text.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace {

constexpr DWORD limit_ms = 10000;

std::wstring own_folder() {
    wchar_t path[MAX_PATH];
    const std::wstring text(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

void print(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void stay_with_parent() {
    DWORD parent = 0;
    const kv::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (snapshot && Process32FirstW(snapshot.get(), &entry)) {
        do {
            if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
        } while (Process32NextW(snapshot.get(), &entry));
    }
    const kv::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, parent));
    if (process) {
        WaitForSingleObject(process.get(), 120000);
    } else {
        Sleep(120000);
    }
}

void log_start() {
    const std::wstring file = own_folder() + L"watchdog-peer.log";
    const kv::UniqueFileHandle log(CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string line = "started pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    DWORD written = 0;
    if (log) WriteFile(log.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// Reads what is available within the time limit; false at end of data.
enum class Got { data, eof, timeout };
Got read_some(HANDLE pipe, std::string& into) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return Got::eof;
        if (available > 0) {
            char buffer[256];
            DWORD read = 0;
            if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) || read == 0) return Got::eof;
            into.append(buffer, read);
            return Got::data;
        }
        if (GetTickCount() - start > limit_ms) return Got::timeout;
        Sleep(10);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        log_start();
        stay_with_parent();
        return 0;
    }
    print("pid " + std::to_string(GetCurrentProcessId()));
    kv::UniqueFileHandle pipe;
    std::string received;
    for (int i = 1; i < argc; ++i) {
        const std::string line = kv::narrow(argv[i]);
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "connect") {
            const DWORD start = GetTickCount();
            for (;;) {
                pipe.reset(CreateFileW(L"\\\\.\\pipe\\kestrivon-watchdog", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                if (pipe || GetTickCount() - start > limit_ms) break;
                Sleep(50);
            }
            print(pipe ? "connected" : "connect-failed " + std::to_string(GetLastError()));
            if (!pipe) return 1;
        } else if (word == "expect-line") {
            Got got = Got::data;
            while (received.find('\n') == std::string::npos && (got = read_some(pipe.get(), received)) == Got::data) {
            }
            const std::size_t end = received.find('\n');
            if (end != std::string::npos) {
                print("line " + received.substr(0, end));
                received.erase(0, end + 1);
            } else {
                print(got == Got::eof ? "eof" : "timeout");
            }
        } else if (word == "send" || word == "auth") {
            std::string text = kv::testing::unescape_script_text(rest);
            if (word == "auth") {
                wchar_t base[MAX_PATH];
                const DWORD length = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
                const std::wstring file = std::wstring(base, length) + L"\\Kestrivon\\Client\\watchdog.token";
                const kv::UniqueFileHandle token(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                             OPEN_EXISTING, 0, nullptr));
                char buffer[128];
                DWORD read = 0;
                if (token) ReadFile(token.get(), buffer, sizeof(buffer), &read, nullptr);
                text = "AUTH:" + std::string(buffer, read) + "\n";
            }
            DWORD written = 0;
            WriteFile(pipe.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else if (word == "fill") {
            const std::string block(1024, 'x');
            for (std::size_t left = std::stoul(rest); left > 0;) {
                const DWORD size = static_cast<DWORD>(left < block.size() ? left : block.size());
                DWORD written = 0;
                if (!WriteFile(pipe.get(), block.data(), size, &written, nullptr)) break;
                left -= size;
            }
        } else if (word == "sleep") {
            Sleep(static_cast<DWORD>(std::stoul(rest)));
        } else if (word == "read-to-end") {
            Got got;
            while ((got = read_some(pipe.get(), received)) == Got::data) {
            }
            print("rest " + kv::testing::escape_line_ends(received));
            print(got == Got::eof ? "eof" : "timeout");
            received.clear();
        } else {
            print("unknown script word " + word);
        }
    }
    return 0;
}
