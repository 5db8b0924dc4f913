// A stand-in for the station client, built as Kestrivon-Client.exe for the tests only. The
// service starts it without arguments, so it follows a script: its arguments when it has
// any, else the lines of client-double.script beside it. It appends what happens to
// client-double.log beside it, one line per event. Script lines:
//   pipe NAME                    use another pipe name (tests serve their own)
//   send TEXT                    one request; \s \t \r \n \\ stand for space, tab, CR, LF, backslash
//   heartbeat INTERVAL_MS COUNT  "HEARTBEAT" COUNT times, INTERVAL_MS apart
//   sleep MS
//   hang                         stop doing anything (ended by the test, or after two minutes)
//   await NAME                   wait until a file NAME appears beside it (two minutes at most), then delete it
//   watchdog TEXT                one session on the watchdog's pipe: read its greeting, send TEXT
//                                (escaped as for send; {token} stands for the contents of
//                                watchdog.token), then log what comes back until it closes or is quiet
//   exit CODE
// Started with arguments (as tests do) it never lives longer than two minutes, so no test
// leaves one behind for long; from the script file it runs as long as the script says, and,
// like a real client, as one copy per session: the service and the watchdog may both start it
// at the same moment, and the later copy leaves at once.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "data_paths.hpp"
#include "file_io.hpp"
#include "privileged_pipe_client.hpp"
#include "script_text.hpp"
#include "text.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace {

constexpr DWORD lifetime_ms = 120000;

std::wstring folder_of_program() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

// One write per line, appended, so the lines of relaunched copies never interleave.
void log_line(const std::string& line) {
    const std::wstring file = folder_of_program() + L"client-double.log";
    const kv::UniqueFileHandle log(CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!log) return;
    const std::string text = "pid=" + std::to_string(GetCurrentProcessId()) + " " + line + "\n";
    DWORD written = 0;
    WriteFile(log.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::vector<std::string> script_lines(int argc, wchar_t** argv) {
    std::vector<std::string> lines;
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) lines.push_back(kv::narrow(argv[i]));
        return lines;
    }
    const std::wstring file = folder_of_program() + L"client-double.script";
    const kv::UniqueFileHandle script(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!script) return lines;
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(script.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) content.append(buffer, read);
    std::istringstream stream(content);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

void send(const std::wstring& pipe, const std::string& request) {
    const auto reply = kv::send_privileged_request(request, pipe);
    log_line(reply ? "reply " + kv::testing::escape_line_ends(*reply) : "error " + reply.error());
}


// The session token the watchdog wrote for its client, where the client finds it.
std::string watchdog_token() {
    const kv::FileRead token = kv::read_whole_file(kv::data_root() / L"watchdog.token");
    return token.ok() ? std::string(kv::trim_trailing_space(token.bytes)) : std::string();
}

// Lines the watchdog sends until it closes the pipe or stays quiet for `quiet_ms`.
std::vector<std::string> read_watchdog_lines(HANDLE pipe, DWORD quiet_ms, std::size_t stop_after = SIZE_MAX) {
    std::vector<std::string> lines;
    std::string pending;
    DWORD quiet_since = GetTickCount();
    while (lines.size() < stop_after) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available == 0) {
            if (GetTickCount() - quiet_since > quiet_ms) break;
            Sleep(20);
            continue;
        }
        char buffer[256];
        DWORD read = 0;
        if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) || read == 0) break;
        pending.append(buffer, read);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            lines.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        quiet_since = GetTickCount();
    }
    return lines;
}

// A connection made just before a new watchdog takes over the pipe is dropped without a
// greeting (each watchdog drops what an earlier one left connected), so a client tries again.
kv::UniqueFileHandle connect_to_watchdog() {
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(200)) {
        kv::UniqueFileHandle pipe(
            CreateFileW(L"\\\\.\\pipe\\kestrivon-watchdog", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!pipe) continue;
        const auto greeting = read_watchdog_lines(pipe.get(), 5000, 1);
        if (greeting.empty()) {
            log_line("watchdog dropped the connection before its greeting");
            continue;
        }
        log_line("watchdog greeting " + greeting.front());
        return pipe;
    }
    log_line("watchdog error cannot connect (error " + std::to_string(GetLastError()) + ")");
    return kv::UniqueFileHandle();
}

void watchdog_session(const std::string& script_text) {
    const kv::UniqueFileHandle pipe = connect_to_watchdog();
    if (!pipe) return;
    std::string text = kv::testing::unescape_script_text(script_text);
    if (const std::size_t at = text.find("{token}"); at != std::string::npos) text.replace(at, 7, watchdog_token());
    DWORD written = 0;
    if (!WriteFile(pipe.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        log_line("watchdog error write failed (error " + std::to_string(GetLastError()) + ")");
        return;
    }
    for (const std::string& line : read_watchdog_lines(pipe.get(), 1000)) log_line("watchdog says " + line);
    log_line("watchdog session closed");
}

void await_file(const std::string& name) {
    const std::filesystem::path file = folder_of_program() + kv::widen(name);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < lifetime_ms; Sleep(100)) {
        std::error_code ignored;
        if (std::filesystem::remove(file, ignored)) {
            log_line("awaited " + name);
            return;
        }
    }
    log_line("await timed out " + name);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    kv::UniqueHandle single_instance;
    if (argc > 1) {
        CreateThread(nullptr, 0, [](LPVOID) -> DWORD { Sleep(lifetime_ms); ExitProcess(3); }, nullptr, 0, nullptr);
    } else {
        single_instance.reset(CreateMutexW(nullptr, FALSE, L"Local\\Kestrivon-Client-Double"));
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            log_line("another copy runs in this session; leaving");
            return 0;
        }
    }
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    log_line("started session=" + std::to_string(session));
    std::wstring pipe = kv::privileged_pipe_name;
    for (const std::string& line : script_lines(argc, argv)) {
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "pipe") {
            pipe = kv::widen(rest);
        } else if (word == "send") {
            send(pipe, kv::testing::unescape_script_text(rest));
        } else if (word == "heartbeat") {
            std::istringstream numbers(rest);
            DWORD interval = 1000;
            int count = 1;
            numbers >> interval >> count;
            for (int i = 0; i < count; ++i) {
                if (i > 0) Sleep(interval);
                send(pipe, "HEARTBEAT");
            }
        } else if (word == "sleep") {
            Sleep(static_cast<DWORD>(std::stoul(rest)));
        } else if (word == "hang") {
            log_line("hanging");
            Sleep(lifetime_ms);
            return 3;
        } else if (word == "await") {
            await_file(rest);
        } else if (word == "watchdog") {
            watchdog_session(rest);
        } else if (word == "exit") {
            log_line("exit " + rest);
            return std::stoi(rest);
        } else {
            log_line("unknown script line " + line);
        }
    }
    log_line("exit 0");
    return 0;
}
