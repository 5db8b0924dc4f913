// The watchdog's client monitor with real processes and marker files: it restarts a missing
// client and stands aside while an update is pending. The 180 s limit is walked with a fake
// clock in the portable tests; here the 30 s grace is shown with back-dated file times.
#include "watchdog_fixture.hpp"

namespace kv::testing {
namespace {

class WatchdogMonitorTest : public WatchdogFixture {
protected:
    bool client_started(std::size_t count) {
        return wait_until([&] { return started_clients().size() >= count; }, 15s);
    }
};

TEST_F(WatchdogMonitorTest, RestartsAMissingClientAgainAndAgain) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(client_started(1)) << watchdog.out() << watchdog.err();
    const DWORD first = started_clients()[0];
    EXPECT_TRUE(watchdog.says("Restarting client"));
    EXPECT_TRUE(watchdog.says("Restarted client, new PID: " + std::to_string(first)));
    EXPECT_TRUE(watchdog.says("Client restarted, PID: " + std::to_string(first)));
    // While it runs, nothing more happens; once it is gone it comes back.
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(started_clients().size(), 1u);
    end_process(first);
    ASSERT_TRUE(client_started(2)) << watchdog.out();
    EXPECT_NE(started_clients()[1], first);
}

TEST_F(WatchdogMonitorTest, WaitsWhileTheInstallerOrRelaunchMarkerIsThere) {
    for (const wchar_t* marker : {L"pending-installer.json", L"pending-relaunch.json"}) {
        ASSERT_TRUE(CreateDirectoryW(updates().c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        ASSERT_TRUE(std::ofstream(updates() / marker) << "{}");
        RunningWatchdog& watchdog = start();
        ASSERT_TRUE(watchdog.says("client update pending; waiting for updater service")) << watchdog.out();
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(started_clients().size(), 0u);
        EXPECT_FALSE(watchdog.out().find("Restarting client") != std::string::npos);
        EXPECT_TRUE(fs::exists(updates() / marker));
        // Once the service is done the client comes back at once.
        fs::remove(updates() / marker);
        ASSERT_TRUE(client_started(1)) << watchdog.out();
        end_process(watchdog.pid);
        for (const DWORD pid : started_clients()) end_process(pid);
        fs::remove(folder / L"watchdog-peer.log");
    }
}

TEST_F(WatchdogMonitorTest, AnUnsignedUpdateMarkerHoldsOffForThirtySecondsThenIsCleared) {
    const fs::path marker = updates() / L"pending-update.json";
    ASSERT_TRUE(std::ofstream(marker) << "{}");
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("client update pending; waiting for updater service")) << watchdog.out();
    EXPECT_EQ(started_clients().size(), 0u);
    EXPECT_TRUE(fs::exists(marker));

    // The same marker 31 s old: stale, removed, and the client started at once.
    set_file_age(marker, 31s);
    EXPECT_TRUE(watchdog.complains("stale unsigned client update marker found; clearing pending marker")) << watchdog.err();
    ASSERT_TRUE(client_started(1)) << watchdog.out();
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(WatchdogMonitorTest, ASignedUpdateHoldsOffAndAMarkerFromTheFutureDoesNot) {
    const fs::path marker = updates() / L"pending-update.json";
    ASSERT_TRUE(std::ofstream(marker) << "{}");
    ASSERT_TRUE(std::ofstream(updates() / L"manifest.json.sig") << "sig");
    set_file_age(marker, 1h);
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("client update pending; waiting for updater service")) << watchdog.out();
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_EQ(started_clients().size(), 0u);

    fs::remove(updates() / L"manifest.json.sig");
    set_file_age(marker, -1h);
    EXPECT_TRUE(watchdog.complains("stale unsigned client update marker found; clearing pending marker")) << watchdog.err();
    ASSERT_TRUE(client_started(1)) << watchdog.out();
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace
}  // namespace kv::testing
