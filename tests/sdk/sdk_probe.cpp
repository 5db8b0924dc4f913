// A station client made of nothing but the SDK's C calls, built as Kestrivon-Client.exe for
// the tests only, so that the installed service and its watchdog answer it. Without
// arguments (as the service and the watchdog start it) it stays idle as one copy per
// session, for two minutes at most. With arguments it runs them as steps and prints one
// line per step: "STEP STATUS TEXT".
//   options KEY=VALUE...     busy, reply, watchdog, beat (ms) for the following steps
//   ping | heartbeat | supervise-off | watchdog-managed | watchdog-stop | vprinter | webfilter
//   kill PID | settime EPOCH | dnspolicy on|off | planned-exit
//   request TEXT             raw request (\s \t \r \n \\ as in the other stand-ins)
//   request-of N             "PING" padded with spaces to N bytes
//   token                    reads watchdog.token; prints its length, never the token
//   heartbeats MS            background heartbeats for MS, then their counts
//   hold N | release         N connections to the privileged pipe that send nothing
//   open | auth | pid | send WORD | exit WORD | read MS | close     one watchdog session
//   sleep MS
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "../doubles/script_text.hpp"
#include "kestrivon_station.h"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace {

void print(const std::string& step, kv_status status, const std::string& text) {
    std::printf("%s %s %s\n", step.c_str(), kv_status_name(status), text.c_str());
    std::fflush(stdout);
}

const std::map<std::string, kv_watchdog_command> commands = {
    {"KIOSK_ON", KV_KIOSK_ON},
    {"KIOSK_OFF", KV_KIOSK_OFF},
    {"SHUTDOWN_GUARD_ON", KV_SHUTDOWN_GUARD_ON},
    {"SHUTDOWN_GUARD_OFF", KV_SHUTDOWN_GUARD_OFF},
    {"WIN_KEY_GUARD_ON", KV_WIN_KEY_GUARD_ON},
    {"WIN_KEY_GUARD_OFF", KV_WIN_KEY_GUARD_OFF},
    {"HEARTBEAT", KV_WATCHDOG_HEARTBEAT},
};
const std::map<std::string, kv_watchdog_exit_command> exits = {
    {"ADMIN_EXIT", KV_ADMIN_EXIT},       {"SERVER_EXIT", KV_SERVER_EXIT},     {"UNINSTALL", KV_UNINSTALL},
    {"SERVER_SHUTDOWN", KV_SERVER_SHUTDOWN}, {"SERVER_REBOOT", KV_SERVER_REBOOT}, {"SERVER_LOGOFF", KV_SERVER_LOGOFF},
};

void set_option(kv_options& options, const std::string& pair) {
    const std::size_t equals = pair.find('=');
    const std::string key = pair.substr(0, equals);
    const unsigned long value = std::strtoul(pair.substr(equals + 1).c_str(), nullptr, 10);
    if (key == "busy") options.busy_timeout_ms = value;
    if (key == "reply") options.reply_timeout_ms = value;
    if (key == "watchdog") options.watchdog_timeout_ms = value;
    if (key == "beat") options.heartbeat_interval_ms = value;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        const kv::UniqueHandle single(CreateMutexW(nullptr, FALSE, L"Local\\Kestrivon-SDK-Probe"));
        if (GetLastError() != ERROR_ALREADY_EXISTS) Sleep(120000);
        return 0;
    }
    kv_options options{};
    char text[KV_TEXT_SIZE];
    kv_watchdog* session = nullptr;
    std::vector<kv::UniqueFileHandle> held;
    for (int i = 1; i < argc; ++i) {
        const std::string line = kv::narrow(argv[i]);
        const std::size_t space = line.find(' ');
        const std::string step = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        const unsigned long number = std::strtoul(rest.c_str(), nullptr, 10);
        kv_status status = KV_OK;
        text[0] = '\0';
        if (step == "options") {
            for (std::size_t at = 0; at < rest.size();) {
                const std::size_t end = rest.find(' ', at);
                set_option(options, rest.substr(at, end - at));
                at = end == std::string::npos ? rest.size() : end + 1;
            }
            continue;
        } else if (step == "ping") {
            status = kv_ping(&options, text, sizeof(text));
        } else if (step == "heartbeat") {
            status = kv_heartbeat(&options, text, sizeof(text));
        } else if (step == "supervise-off") {
            status = kv_supervise_off(&options, text, sizeof(text));
        } else if (step == "watchdog-managed") {
            status = kv_watchdog_managed(&options, text, sizeof(text));
        } else if (step == "watchdog-stop") {
            status = kv_watchdog_stop(&options, text, sizeof(text));
        } else if (step == "vprinter" || step == "webfilter") {
            int in_progress = -1;
            status = step == "vprinter" ? kv_vprinter_ensure(&options, &in_progress, text, sizeof(text))
                                        : kv_webfilter_ensure(&options, &in_progress, text, sizeof(text));
            print(step, status, std::string(text) + " in_progress=" + std::to_string(in_progress));
            continue;
        } else if (step == "kill") {
            status = kv_kill(&options, number, text, sizeof(text));
        } else if (step == "settime") {
            status = kv_settime(&options, std::strtoll(rest.c_str(), nullptr, 10), text, sizeof(text));
        } else if (step == "dnspolicy") {
            unsigned long changed = 999;
            status = kv_dnspolicy(&options, rest == "on", &changed, text, sizeof(text));
            print(step, status, std::string(text) + " changed=" + std::to_string(changed));
            continue;
        } else if (step == "planned-exit") {
            status = kv_planned_exit(&options, text, sizeof(text));
        } else if (step == "request" || step == "request-of") {
            std::string request = step == "request" ? kv::testing::unescape_script_text(rest) : "PING";
            if (step == "request-of") request.resize(number, ' ');
            status = kv_privileged_request(&options, request.c_str(), text, sizeof(text));
        } else if (step == "token") {
            status = kv_watchdog_token(&options, text, sizeof(text));
            print(step, status, status == KV_OK ? "length=" + std::to_string(std::string(text).size()) : std::string(text));
            continue;
        } else if (step == "heartbeats") {
            kv_heartbeats* heartbeats = nullptr;
            status = kv_heartbeats_start(&options, &heartbeats, text, sizeof(text));
            if (status == KV_OK) {
                Sleep(number);
                unsigned long sent = 0, failed = 0;
                status = kv_heartbeats_status(heartbeats, &sent, &failed, text, sizeof(text));
                kv_heartbeats_stop(heartbeats);
                print(step, status, std::string(text) + " sent=" + std::to_string(sent) + " failed=" + std::to_string(failed));
                continue;
            }
        } else if (step == "hold") {
            for (unsigned long n = 0; n < number; ++n) {
                held.emplace_back(CreateFileW(L"\\\\.\\pipe\\kestrivon-privileged", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
            }
            std::size_t connected = 0;
            for (const auto& pipe : held) connected += pipe ? 1 : 0;
            print(step, KV_OK, "connected=" + std::to_string(connected));
            continue;
        } else if (step == "release") {
            held.clear();
        } else if (step == "open") {
            status = kv_watchdog_open(&options, &session, text, sizeof(text));
        } else if (step == "auth") {
            status = kv_watchdog_authenticate(session, text, sizeof(text));
        } else if (step == "pid") {
            status = kv_watchdog_report_pid(session, GetCurrentProcessId(), text, sizeof(text));
        } else if (step == "send") {
            const auto command = commands.find(rest);
            status = kv_watchdog_send(session, command == commands.end() ? static_cast<kv_watchdog_command>(99) : command->second, text,
                                      sizeof(text));
        } else if (step == "exit") {
            const auto command = exits.find(rest);
            status = kv_watchdog_exit(session, command == exits.end() ? static_cast<kv_watchdog_exit_command>(99) : command->second,
                                      text, sizeof(text));
        } else if (step == "read") {
            status = kv_watchdog_read_line(session, number, text, sizeof(text));
        } else if (step == "close") {
            kv_watchdog_close(session);
            session = nullptr;
        } else if (step == "sleep") {
            Sleep(number);
        } else {
            status = KV_ERR_ARGUMENT;
            std::snprintf(text, sizeof(text), "unknown step");
        }
        print(step, status, text);
    }
    kv_watchdog_close(session);
    return 0;
}
