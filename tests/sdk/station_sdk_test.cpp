// Every SDK call against the installed service and the watchdog it starts, under Wine: a
// station whose Kestrivon-Client.exe is the SDK probe, run step by step from the station's
// folder as the café's client would run.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "station_fixture.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv::testing {
namespace {

using namespace std::chrono_literals;

constexpr char watchdog_started[] = R"(service started watchdog pid=(\d+) session=\d+)";

class StationSdk : public StationTest {
protected:
    void SetUp() override {
        StationTest::SetUp();
        if (HasFatalFailure()) return;
        // The probe in the client's place: the service and the watchdog answer only it.
        place_probe(station);
    }

    // The probe and the SDK's DLL it binds.
    static void place_probe(const fs::path& folder) {
        for (const wchar_t* file : {L"Kestrivon-Client.exe", L"kestrivon_station.dll"}) {
            ASSERT_TRUE(CopyFileW((doubles_dir() / L"sdk-probe" / file).c_str(), (folder / file).c_str(), FALSE)) << narrow(file);
        }
    }

    // Runs the probe from `folder` (the station's by default) and checks each printed line
    // against the pattern of its step, in order.
    void expect_probe(const std::vector<std::wstring>& steps, const std::vector<std::string>& patterns, const fs::path& folder = {}) {
        // The probe finds watchdog.token where the service's watchdog writes it.
        const ScopedEnvironment program_data(L"ProgramData", data_root.parent_path().parent_path().wstring());
        const Captured run = run_captured((folder.empty() ? station : folder) / L"Kestrivon-Client.exe", steps);
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = run.out.substr(start, end - start);
            if (line.ends_with('\r')) line.pop_back();  // its standard output is in text mode
            lines.push_back(std::move(line));
        }
        ASSERT_EQ(lines.size(), patterns.size()) << run.out << run.err;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(patterns[i]))) << "line " << i + 1 << ": " << lines[i];
        }
    }

    DWORD watchdog_pid(std::size_t occurrence) {
        const auto started = wait_for_service_line(watchdog_started, 30s, occurrence);
        EXPECT_TRUE(started) << service_log();
        return started ? static_cast<DWORD>(std::stoul(started->groups.at(1))) : 0;
    }

    static std::optional<DWORD> task_manager_policy() { return user_dword(task_manager_policy_key, task_manager_policy_value); }
};

TEST_F(StationSdk, EveryCallAgainstTheServiceAndItsWatchdog) {
    install_station("");
    const DWORD first_watchdog = watchdog_pid(1);
    ASSERT_NE(first_watchdog, 0u);
    ASSERT_TRUE(wait_until([&] { return running(L"Kestrivon-Client.exe").size() == 1; }, 30s)) << "the idle probe";

    // A process of the customer's that the client may end.
    const fs::path game = scratch_dir("sdk-kill") / L"game.exe";
    ASSERT_TRUE(CopyFileW((doubles_dir() / L"idle-program.exe").c_str(), game.c_str(), FALSE));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(game.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
    const UniqueHandle game_process(created.hProcess), game_thread(created.hThread);
    const std::string game_pid = std::to_string(created.dwProcessId);

    // The privileged pipe, call by call.
    expect_probe({L"ping", L"heartbeat", L"request-of 512", L"request-of 513", L"request kill\\s12", L"kill " + widen(game_pid),
                  L"kill 0", L"settime 1789999999", L"dnspolicy on", L"dnspolicy on", L"dnspolicy off", L"dnspolicy off", L"vprinter",
                  L"webfilter", L"watchdog-managed", L"watchdog-stop", L"token", L"options beat=200", L"heartbeats 700"},
                 {
                     "ping KV_OK OK",
                     "heartbeat KV_OK OK",
                     "request-of KV_OK OK",
                     "request-of KV_ERR_TOO_LONG the request is 513 bytes, more than the 512 the privileged pipe takes: nothing was sent",
                     "request KV_ERR_REPLY ERR unknown command 'kill'",
                     "kill KV_OK OK " + game_pid,
                     "kill KV_ERR_REPLY ERR refusing to kill self",
                     "settime KV_ERR_REPLY ERR epoch 1789999999 is out of range",
                     R"(dnspolicy KV_OK OK [0-8] changed=[0-8])",
                     "dnspolicy KV_OK OK 0 changed=0",
                     "dnspolicy KV_OK OK 8 changed=8",
                     "dnspolicy KV_OK OK 0 changed=0",
                     "vprinter KV_OK OK (queued in_progress=0|in progress in_progress=1)",
                     "webfilter KV_OK OK (queued in_progress=0|in progress in_progress=1)",
                     "watchdog-managed KV_OK OK managed",
                     "watchdog-stop KV_ERR_REPLY ERR no authorized exit announced",
                     "token KV_OK length=64",
                     // One beat at once, then one every 200 ms.
                     "heartbeats KV_OK OK sent=[2-5] failed=0",
                 });
    EXPECT_EQ(WaitForSingleObject(game_process.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(wait_for_service_line("privileged kill ok pid=" + game_pid + " name=game", 5s)) << service_log();

    // Four connections that send nothing keep every instance busy until the service gives up
    // on them (5 s): a client waiting 500 ms for an instance is told so.
    expect_probe({L"hold 4", L"options busy=500", L"ping", L"release", L"options busy=5000", L"ping"},
                 {"hold KV_OK connected=4",
                  R"(ping KV_ERR_BUSY every instance of \\\\\.\\pipe\\kestrivon-privileged stayed busy for 500 ms)",
                  "release KV_OK ", "ping KV_OK OK"});

    // The watchdog: lock-downs need no token, lifting them and exits do.
    expect_probe({L"options watchdog=1000", L"open", L"pid", L"send KIOSK_ON", L"send SHUTDOWN_GUARD_ON", L"send WIN_KEY_GUARD_ON",
                  L"send HEARTBEAT", L"read 300", L"send KIOSK_OFF", L"exit ADMIN_EXIT", L"close"},
                 {"open KV_OK WATCHDOG_READY", R"(pid KV_OK sent PID:\d+)", "send KV_OK sent KIOSK_ON", "send KV_OK sent SHUTDOWN_GUARD_ON",
                  "send KV_OK sent WIN_KEY_GUARD_ON", "send KV_OK sent HEARTBEAT", "read KV_ERR_TIMEOUT the watchdog sent no line within 300 ms",
                  "send KV_OK sent KIOSK_OFF",
                  R"(exit KV_ERR_TIMEOUT no EXIT_ACK within 1000 ms \(is the session authenticated with the current watchdog.token\?\))",
                  "close KV_OK "});
    EXPECT_TRUE(wait_until([] { return task_manager_policy() == 1u; }, 5s)) << "kiosk mode on, and not lifted without the token";
    expect_probe({L"open", L"auth", L"send KIOSK_OFF", L"send SHUTDOWN_GUARD_OFF", L"send WIN_KEY_GUARD_OFF", L"close"},
                 {"open KV_OK WATCHDOG_READY", "auth KV_OK sent AUTH:", "send KV_OK sent KIOSK_OFF", "send KV_OK sent SHUTDOWN_GUARD_OFF",
                  "send KV_OK sent WIN_KEY_GUARD_OFF", "close KV_OK "});
    EXPECT_TRUE(wait_until([] { return !task_manager_policy(); }, 5s)) << "kiosk mode lifted";

    // A program of the same name elsewhere is answered by neither.
    const fs::path stranger = scratch_dir("sdk-stranger");
    place_probe(stranger);
    expect_probe({L"options watchdog=1000", L"ping", L"open"},
                 {"ping KV_ERR_CLOSED the service closed the connection without a reply .*",
                  "open KV_ERR_CLOSED the watchdog closed every connection before WATCHDOG_READY .*"},
                 stranger);

    // An authorized exit ends the watchdog; the service starts a new one with a new token,
    // which the next session reads afresh.
    expect_probe({L"open", L"auth", L"exit ADMIN_EXIT", L"read 2000"},
                 {"open KV_OK WATCHDOG_READY", "auth KV_OK sent AUTH:", "exit KV_OK EXIT_ACK",
                  "read KV_ERR_CLOSED the watchdog has closed the session"});
    EXPECT_TRUE(wait_for_service_line("watchdog pid=" + std::to_string(first_watchdog) + " exited", 10s)) << service_log();
    const DWORD second_watchdog = watchdog_pid(2);
    ASSERT_NE(second_watchdog, 0u);

    // The planned exit lifts what the session set, announces the exit and has the service end
    // its watchdog. The pipe name stays the service's: a session now meets a silent pipe.
    expect_probe({L"open", L"send KIOSK_ON", L"close"}, {"open KV_OK WATCHDOG_READY", "send KV_OK sent KIOSK_ON", "close KV_OK "});
    ASSERT_TRUE(wait_until([] { return task_manager_policy() == 1u; }, 5s));
    expect_probe({L"planned-exit", L"options watchdog=1000", L"open", L"supervise-off", L"watchdog-stop"},
                 {"planned-exit KV_OK OK kiosk mode lifted, exit announced, watchdog stopped by the service",
                  "open KV_ERR_TIMEOUT connected, but no WATCHDOG_READY within 1000 ms", "supervise-off KV_OK OK",
                  "watchdog-stop KV_OK OK"});
    EXPECT_FALSE(task_manager_policy()) << "kiosk mode lifted before the watchdog ended";
    EXPECT_TRUE(wait_for_service_line("supervision suppressed for authorized exit", 5s, 2)) << "the planned exit's and the call's";
    EXPECT_TRUE(wait_for_service_line("watchdog pid=" + std::to_string(second_watchdog) + " ended for an authorized exit", 5s))
        << service_log();
}

}  // namespace
}  // namespace kv::testing
