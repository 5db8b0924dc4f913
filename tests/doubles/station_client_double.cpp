// A stand-in for the station client, built as Kestrivon-Client.exe for the tests only. The
// service starts it without arguments, so it follows a script: its arguments when it has
// any, else the lines of client-double.script beside it. It appends what happens to
// client-double.log beside it, one line per event. Script lines:
//   pipe NAME                    use another pipe name (tests serve their own)
//   send TEXT                    one request; \s \t \r \n \\ stand for space, tab, CR, LF, backslash
//   heartbeat INTERVAL_MS COUNT  "HEARTBEAT" COUNT times, INTERVAL_MS apart
//   sleep MS
//   hang                         stop doing anything (ended by the test, or after two minutes)
//   exit CODE
// Started with arguments (as tests do) it never lives longer than two minutes, so no test
// leaves one behind for long; from the script file it runs as long as the script says.
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "privileged_pipe_client.hpp"
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

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 's' ? ' ' : c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
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
    log_line(reply ? "reply " + escape(*reply) : "error " + reply.error());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) {
        CreateThread(nullptr, 0, [](LPVOID) -> DWORD { Sleep(lifetime_ms); ExitProcess(3); }, nullptr, 0, nullptr);
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
            send(pipe, unescape(rest));
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
