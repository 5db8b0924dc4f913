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
// at the same moment, and the later copy leaves at once. It talks to both pipes only through
// the station SDK, as a real client would, so every station test exercises the SDK too.
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kestrivon_station.hpp"
#include "script_text.hpp"
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

void send(const kestrivon::Station& station, const std::string& request) {
    const kestrivon::Reply reply = station.request(request);
    const bool answered = reply.status == KV_OK || reply.status == KV_ERR_REPLY;
    log_line(answered ? "reply " + kv::testing::escape_line_ends(reply.text) : "error " + reply.text);
}

void watchdog_session(const kestrivon::Station& station, const std::string& script_text) {
    // The SDK connects again while a watchdog being started or replaced drops the connection
    // before its greeting, for up to 10 s.
    kestrivon::Options options = station.options();
    options.watchdog_timeout_ms = 10000;
    kestrivon::WatchdogSession session(options);
    if (!session.opened()) {
        log_line("watchdog error " + session.opened().text);
        return;
    }
    log_line("watchdog greeting " + session.opened().text);
    std::string text = kv::testing::unescape_script_text(script_text);
    if (const std::size_t at = text.find("{token}"); at != std::string::npos) {
        const kestrivon::Reply token = station.watchdog_token();
        text.replace(at, 7, token ? token.text : std::string());
    }
    if (const kestrivon::Reply sent = session.send_raw(text); !sent) {
        log_line("watchdog error " + sent.text);
        return;
    }
    // What comes back until the watchdog closes the session or stays quiet for a second.
    for (kestrivon::Reply line; (line = session.read_line(1000));) log_line("watchdog says " + line.text);
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
    kestrivon::Station station;
    for (const std::string& line : script_lines(argc, argv)) {
        const std::size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (word == "pipe") {
            kestrivon::Options options = station.options();
            options.privileged_pipe = kv::widen(rest);
            station = kestrivon::Station(options);
        } else if (word == "send") {
            send(station, kv::testing::unescape_script_text(rest));
        } else if (word == "heartbeat") {
            std::istringstream numbers(rest);
            DWORD interval = 1000;
            int count = 1;
            numbers >> interval >> count;
            for (int i = 0; i < count; ++i) {
                if (i > 0) Sleep(interval);
                send(station, "HEARTBEAT");
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
            watchdog_session(station, rest);
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
