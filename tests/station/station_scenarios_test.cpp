// The whole station as a café runs it, under Wine: the service installed with "install", the
// real watchdog and the station client stand-in beside it. Checked from the service log, the
// pipes, the files, the registry and the process list.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <thread>

#include "file_io.hpp"
#include "station_fixture.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv::testing {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t watchdog_exe[] = L"Kestrivon-Watchdog.exe";
constexpr wchar_t client_exe[] = L"Kestrivon-Client.exe";
constexpr char watchdog_started[] = R"(service started watchdog pid=(\d+) session=(\d+))";
// A client that reports to the service every 5 s, as a station client must.
constexpr char steady_client[] = "heartbeat 5000 100000\n";

DWORD pid_of(const LogMatch& match) { return static_cast<DWORD>(std::stoul(match.groups.at(1))); }

bool has_ended(DWORD pid, DWORD wait_ms = 5000) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || WaitForSingleObject(process.get(), wait_ms) == WAIT_OBJECT_0;
}

bool pipe_name_is_free() {
    const UniqueFileHandle probe(CreateNamedPipeW(L"\\\\.\\pipe\\kestrivon-watchdog", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                                  PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr));
    return static_cast<bool>(probe);
}

struct Suspension {
    std::size_t suspended = 0;
    std::size_t refused = 0;
};

// Suspends every thread of the process that this program may suspend.
Suspension suspend_threads_of(DWORD pid) {
    Suspension result;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !Thread32First(snapshot.get(), &entry)) return result;
    do {
        if (entry.th32OwnerProcessID != pid) continue;
        const UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (thread && SuspendThread(thread.get()) != static_cast<DWORD>(-1)) {
            ++result.suspended;
        } else {
            ++result.refused;
        }
    } while (Thread32Next(snapshot.get(), &entry));
    return result;
}

void publish_staged_update(const fs::path& updates, const wchar_t* fixture) {
    const fs::path from = update_fixtures_dir() / fixture;
    copy_tree(from / L"staging", updates / L"staging");
    for (const wchar_t* file : {L"manifest.json", L"manifest.json.sig"}) {
        ASSERT_TRUE(CopyFileW((from / file).c_str(), (updates / file).c_str(), FALSE));
    }
    // The marker last, as a publisher must.
    ASSERT_TRUE(write_whole_file(updates / L"pending-update.json", "{}"));
}

class StationScenarios : public StationTest {
protected:
    // The first watchdog and client of a freshly installed station.
    std::pair<DWORD, DWORD> wait_for_watchdog_and_client() {
        const auto started = wait_for_service_line(watchdog_started, 60s);
        EXPECT_TRUE(started) << service_log();
        EXPECT_TRUE(wait_until([&] { return running(client_exe).size() == 1; }, 30s)) << client_log();
        const auto clients = running(client_exe);
        return {started ? pid_of(*started) : 0, clients.empty() ? 0 : clients.front()};
    }
};

TEST_F(StationScenarios, TheServiceHoldsThePipeAndStartsOneWatchdogAndOneClient) {
    install_station(steady_client);
    ASSERT_TRUE(wait_for_service_line("watchdog pipe held by the service", 30s));
    const auto started = wait_for_service_line(watchdog_started, 30s);
    ASSERT_TRUE(started) << service_log();
    const DWORD watchdog = pid_of(*started);
    EXPECT_EQ(started->groups[2], "1");
    DWORD session = 0;
    EXPECT_TRUE(ProcessIdToSessionId(watchdog, &session));
    EXPECT_EQ(session, 1u) << "the console session";
    EXPECT_EQ(running(watchdog_exe), std::vector<DWORD>{watchdog});
    EXPECT_FALSE(pipe_name_is_free()) << "the service holds the watchdog's pipe name";
    EXPECT_TRUE(wait_until([] { return !user_value_exists(run_key_path, autostart_value_name); }, 15s))
        << "the service-launched watchdog removes its autostart entry";

    // Over more than the 20 s a silent watchdog is given, the same watchdog stays (it beats
    // through the handle it was given) and one client runs, whoever started it.
    ASSERT_TRUE(wait_until([&] { return running(client_exe).size() == 1; }, 30s)) << client_log();
    const auto until = std::chrono::steady_clock::now() + 24s;
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_LE(running(client_exe).size(), 1u);
        ASSERT_EQ(running(watchdog_exe), std::vector<DWORD>{watchdog});
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_EQ(client_log_count(" started session=1\n"), 1u) << client_log();
    EXPECT_EQ(client_log_count(" error "), 0u) << client_log();
    EXPECT_TRUE(service_lines(R"(watchdog pid=\d+ (stopped beating|exited).*)").empty()) << service_log();
}

TEST_F(StationScenarios, TheClientSteersKioskModeWithTheWatchdogsToken) {
    install_station(
        "heartbeat 1000 1\n"
        "await kiosk-on\nwatchdog KIOSK_ON\\n\n"
        "await kiosk-off-without-token\nwatchdog KIOSK_OFF\\n\n"
        "await kiosk-off\nwatchdog AUTH:{token}\\nKIOSK_OFF\\n\n"
        "send WATCHDOG\\smanaged\n" +
        std::string(steady_client));
    wait_for_watchdog_and_client();

    release_client_step("kiosk-on");
    ASSERT_TRUE(wait_until([&] { return client_log_count(" watchdog session closed\n") == 1; }, 20s)) << client_log();
    EXPECT_EQ(client_log_count(" watchdog greeting WATCHDOG_READY\n"), 1u) << client_log();
    EXPECT_TRUE(wait_until([] { return user_dword(task_manager_policy_key, task_manager_policy_value) == 1u; }, 5s)) << "Task Manager disabled";

    // Without the token a customer's program cannot lift it.
    release_client_step("kiosk-off-without-token");
    ASSERT_TRUE(wait_until([&] { return client_log_count(" watchdog session closed\n") == 2; }, 20s)) << client_log();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(user_dword(task_manager_policy_key, task_manager_policy_value), 1u);

    release_client_step("kiosk-off");
    ASSERT_TRUE(wait_until([&] { return client_log_count(" watchdog session closed\n") == 3; }, 20s)) << client_log();
    EXPECT_TRUE(wait_until([] { return !user_value_exists(task_manager_policy_key, task_manager_policy_value); }, 5s)) << "kiosk mode lifted";
    ASSERT_TRUE(wait_until([&] { return client_log_count(" reply OK managed\n") == 1; }, 10s)) << client_log();
    EXPECT_EQ(client_log_count(" watchdog error "), 0u) << client_log();
}

TEST_F(StationScenarios, AHungOrKilledWatchdogIsReplaced) {
    install_station(steady_client);
    const DWORD first = wait_for_watchdog_and_client().first;
    ASSERT_NE(first, 0u);
    std::this_thread::sleep_for(3s);  // it has beaten at least once

    // Frozen as far as a user's program can freeze it: the main thread, created with the
    // service's hardened thread descriptor, refuses the user; every other thread stops, the
    // beat thread with them. The service ends it about 15 s after its last beat.
    const Suspension frozen = suspend_threads_of(first);
    EXPECT_EQ(frozen.refused, 1u);
    EXPECT_GE(frozen.suspended, 2u);
    const auto suspended_at = std::chrono::steady_clock::now();
    const auto silent = wait_for_service_line("watchdog pid=" + std::to_string(first) + " stopped beating; ending it for a restart", 40s);
    ASSERT_TRUE(silent) << service_log();
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - suspended_at).count();
    EXPECT_GE(waited, 12);
    EXPECT_LE(waited, 20);
    EXPECT_TRUE(has_ended(first));
    auto replacement = wait_for_service_line(watchdog_started, 10s, 2);
    ASSERT_TRUE(replacement);
    EXPECT_LE(replacement->stamp - silent->stamp, 1) << "replaced in the same pass";

    // Killed from outside, again and again: started again after 0, 1, 2 and 5 s.
    std::vector<long long> starts{replacement->stamp};
    for (std::size_t kill = 0; kill < 4; ++kill) {
        const DWORD victim = pid_of(*replacement);
        end_process(victim);
        ASSERT_TRUE(wait_for_service_line("watchdog pid=" + std::to_string(victim) + " exited", 10s)) << service_log();
        replacement = wait_for_service_line(watchdog_started, 30s, kill + 3);
        ASSERT_TRUE(replacement) << service_log();
        starts.push_back(replacement->stamp);
    }
    const long long pauses[] = {0, 1, 2, 5};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_GE(starts[i + 1] - starts[i], pauses[i]) << "start " << i + 1;
        EXPECT_LE(starts[i + 1] - starts[i], pauses[i] + 4) << "start " << i + 1;
    }
    EXPECT_EQ(running(watchdog_exe), std::vector<DWORD>{pid_of(*replacement)});
}

TEST_F(StationScenarios, ASignedUpdateIsAppliedWhileTheStationRunsAndATamperedOneChangesNothing) {
    install_station(steady_client);
    const DWORD client = wait_for_watchdog_and_client().second;
    ASSERT_NE(client, 0u);
    const std::string installed_client = file_sha256(station / client_exe);
    const auto update_files_gone = [&] {
        return !path_exists(updates() / L"pending-update.json") && !path_exists(updates() / L"manifest.json") &&
               !path_exists(updates() / L"manifest.json.sig") && !path_exists(updates() / L"staging");
    };

    publish_staged_update(updates(), L"tampered");
    const auto refused = wait_for_service_line("SIGNATURE REJECTED: .+", 30s);
    ASSERT_TRUE(refused) << service_log();
    EXPECT_EQ(read_file(updates() / L"last-error.txt").value_or(""), "[" + std::to_string(refused->stamp) + "] " + refused->groups[0] + "\n");
    EXPECT_TRUE(wait_until(update_files_gone, 10s));
    EXPECT_EQ(file_sha256(station / client_exe), installed_client);
    EXPECT_FALSE(path_exists(station / L"lib"));
    EXPECT_EQ(running(client_exe), std::vector<DWORD>{client}) << "the client was not ended";

    publish_staged_update(updates(), L"station");
    ASSERT_TRUE(wait_for_service_line(R"(update applied \(signed\): 2\.0\.0)", 30s)) << service_log();
    EXPECT_TRUE(has_ended(client));
    EXPECT_EQ(read_file(station / L"version.txt").value_or(""), "2.0.0\n");
    EXPECT_EQ(file_sha256(station / client_exe), file_sha256(update_fixtures_dir() / L"station" / L"staging" / client_exe));
    EXPECT_TRUE(wait_until(update_files_gone, 10s));
    for (const auto& entry : fs::directory_iterator(station)) {
        const std::wstring name = entry.path().filename().wstring();
        EXPECT_FALSE(name.ends_with(L".kv-new") || name.ends_with(L".kv-old")) << narrow(name);
    }
    // The new client comes back, once.
    ASSERT_TRUE(wait_until([&] { return client_log_count(" started session=1\n") == 2; }, 30s)) << client_log();
    ASSERT_TRUE(wait_until([&] { return running(client_exe).size() == 1; }, 10s));
    EXPECT_NE(running(client_exe).front(), client);
}

TEST_F(StationScenarios, AnInstallerUpdateEndsTheServiceAndTheRestartedServiceRelaunchesTheClient) {
    install_station(steady_client);
    const auto [watchdog, client] = wait_for_watchdog_and_client();
    ASSERT_NE(watchdog, 0u);
    const auto status = service_status();
    ASSERT_TRUE(status && status->dwProcessId != 0);
    const UniqueHandle service(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status->dwProcessId));
    ASSERT_TRUE(service);

    const fs::path fixture = update_fixtures_dir() / L"installer";
    fs::create_directories(updates() / L"installer");
    const fs::path setup = updates() / L"installer" / L"setup.exe";
    ASSERT_TRUE(CopyFileW((fixture / L"setup.exe").c_str(), setup.c_str(), FALSE));
    const nlohmann::json marker = {{"version", "3.0"},
                                   {"installer_path", narrow(setup.wstring())},
                                   {"sha256", read_file(fixture / L"setup.exe.sha256").value_or("").substr(0, 64)},
                                   {"signature", read_file(fixture / L"setup.exe.minisig").value_or("")},
                                   {"args", {"/wait=6"}}};
    ASSERT_TRUE(write_whole_file(updates() / L"pending-installer.json", marker.dump()));

    ASSERT_EQ(WaitForSingleObject(service.get(), 60000), WAIT_OBJECT_0) << service_log();
    DWORD exit_code = 99;
    GetExitCodeProcess(service.get(), &exit_code);
    EXPECT_EQ(exit_code, 0u);
    EXPECT_TRUE(service_lines("requesting client and watchdog exit before installer").size() == 1) << service_log();
    const auto launched = service_lines(R"(installer update launched \(signed\): 3\.0 pid=(\d+) path=.*)");
    ASSERT_EQ(launched.size(), 1u) << service_log();
    const DWORD installer = pid_of(launched.front());
    EXPECT_TRUE(has_ended(client, 0));
    // The watchdog may outlive this service: Wine's taskkill cannot name a process whose
    // hardened descriptor it may not read. The next service run ends it as a leftover.
    EXPECT_TRUE(path_exists(updates() / L"pending-relaunch.json"));
    EXPECT_FALSE(path_exists(updates() / L"pending-installer.json"));

    // Windows' service manager restarts the service by the recovery actions of "install" (after
    // 60 s). Wine's neither notices the exit nor carries out recovery actions, so the test
    // starts the service in its place.
    std::printf("[ station  ] Wine applies no service recovery actions: the test starts the service as the service manager would\n");
    ASSERT_TRUE(service_process_ended());
    ASSERT_TRUE(start_service());

    // While the installer runs, the client is not started; once it has ended, it is.
    const UniqueHandle installer_process(OpenProcess(SYNCHRONIZE, FALSE, installer));
    const std::string relaunched = R"(interactive client started after update: version=3\.0 pid=(\d+) path=.*)";
    if (installer_process) {
        while (WaitForSingleObject(installer_process.get(), 200) == WAIT_TIMEOUT) {
            ASSERT_TRUE(service_lines(relaunched).empty()) << "client started while the installer still ran";
        }
    }
    const auto started = wait_for_service_line(relaunched, 30s);
    ASSERT_TRUE(started) << service_log();
    EXPECT_EQ(service_lines(R"(pending relaunch ready: version=3\.0 installer_pid=)" + std::to_string(installer) + " client=.*").size(), 1u)
        << service_log();
    ASSERT_TRUE(wait_until([&] { return running(client_exe) == std::vector<DWORD>{pid_of(*started)}; }, 10s)) << client_log();
    EXPECT_FALSE(path_exists(updates() / L"pending-relaunch.json"));
    // The watchdog is started again once no marker is pending; the one from before is gone.
    const auto again = wait_for_service_line(watchdog_started, 30s, 2);
    ASSERT_TRUE(again) << service_log();
    EXPECT_TRUE(has_ended(watchdog));
    EXPECT_TRUE(wait_until([&] { return running(watchdog_exe) == std::vector<DWORD>{pid_of(*again)}; }, 10s));
}

TEST_F(StationScenarios, AnAnnouncedExitStopsBothUntilTheServiceStartsAgain) {
    install_station("heartbeat 1000 1\nawait exit\nsend SUPERVISE\\soff\nsend WATCHDOG\\sstop\nexit 0\n");
    const auto [watchdog, client] = wait_for_watchdog_and_client();
    ASSERT_NE(watchdog, 0u);
    release_client_step("exit");
    ASSERT_TRUE(wait_for_service_line("watchdog pid=" + std::to_string(watchdog) + " ended for an authorized exit", 20s)) << service_log();
    ASSERT_TRUE(wait_until([&] { return client_log_count(" exit 0\n") == 1; }, 20s)) << client_log();
    EXPECT_EQ(client_log_count(" reply OK\n"), 3u) << client_log();
    EXPECT_TRUE(has_ended(watchdog));
    EXPECT_TRUE(has_ended(client));

    // Neither comes back while the exit stands.
    std::this_thread::sleep_for(8s);
    EXPECT_TRUE(running(client_exe).empty());
    EXPECT_TRUE(running(watchdog_exe).empty());
    EXPECT_EQ(service_lines(watchdog_started).size(), 1u);
    EXPECT_EQ(client_log_count(" started session=1\n"), 1u);

    // A new service run (as after a reboot) forgets the announcement: both are back.
    write_client_script(steady_client);
    ASSERT_TRUE(stop_service());
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(wait_for_service_line(watchdog_started, 30s, 2)) << service_log();
    ASSERT_TRUE(wait_until([&] { return running(client_exe).size() == 1; }, 30s)) << client_log();
    EXPECT_EQ(running(watchdog_exe).size(), 1u);
}

TEST_F(StationScenarios, UninstallStopsTheServiceAndItsWatchdogAndLeavesNoServiceBehind) {
    install_station(steady_client);
    const auto [watchdog, client] = wait_for_watchdog_and_client();
    ASSERT_NE(watchdog, 0u);
    const DWORD service = service_status()->dwProcessId;

    const Captured removed = run_captured(station / L"Kestrivon-Client-Updater.exe", {L"uninstall"});
    EXPECT_EQ(removed.exit_code, 0u) << removed.err;
    EXPECT_EQ(removed.err, "");
    EXPECT_FALSE(service_status()) << "the service is gone";
    EXPECT_TRUE(has_ended(service));
    EXPECT_TRUE(has_ended(watchdog));
    EXPECT_EQ(service_lines("watchdog pid=" + std::to_string(watchdog) + " ended: service stopping").size(), 1u) << service_log();
    EXPECT_TRUE(pipe_name_is_free()) << "nothing holds the watchdog's pipe name any more";
    // The café's client is not the updater's to end: it keeps running without supervision.
    EXPECT_EQ(running(client_exe), std::vector<DWORD>{client});
}

}  // namespace
}  // namespace kv::testing
