// The client monitor walked with a fake clock: every sleep moves time instead of waiting.
#include "client_monitor.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

class ScriptedStation final : public MonitorEnvironment {
public:
    bool exit_requested() override { return restarts >= stop_after_restarts || elapsed() >= stop_after; }
    bool client_running() override { return running(elapsed()); }
    bool shutting_down() override { return shutting(elapsed()); }
    bool client_update_pending() override { return pending(elapsed()); }
    void clear_pending_marker() override { events.push_back("clear@" + std::to_string(elapsed().count())); }
    Result<std::uint32_t> restart_client() override {
        ++restarts;
        events.push_back("restart@" + std::to_string(elapsed().count()));
        if (restart_fails) return fail("CreateProcess failed: no such file (os error 2)");
        return 4000u + restarts;
    }
    void sleep(std::chrono::milliseconds duration) override { clock.advance(duration); }
    MonotonicTime now() override { return clock.now(); }

    std::chrono::seconds elapsed() const { return std::chrono::duration_cast<std::chrono::seconds>(clock.now() - start); }

    testing::FakeClock clock;
    MonotonicTime start = clock.now();
    std::function<bool(std::chrono::seconds)> running = [](auto) { return false; };
    std::function<bool(std::chrono::seconds)> shutting = [](auto) { return false; };
    std::function<bool(std::chrono::seconds)> pending = [](auto) { return false; };
    int stop_after_restarts = 1000;
    std::chrono::seconds stop_after = 1000s;
    bool restart_fails = false;
    int restarts = 0;
    std::vector<std::string> events;
};

struct Log {
    std::vector<std::string> lines;
    WatchdogLog sink() {
        return [this](LogStream stream, std::string_view message) {
            lines.push_back((stream == LogStream::out ? "out " : "err ") + std::string(message));
        };
    }
    int count(const std::string& line) const { return static_cast<int>(std::count(lines.begin(), lines.end(), line)); }
};

TEST(ClientMonitor, RestartsAMissingClientAfterTheStartDelayThenEveryFourSeconds) {
    ScriptedStation station;
    station.stop_after_restarts = 3;
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_EQ(station.events, (std::vector<std::string>{"restart@3", "restart@7", "restart@11"}));
    EXPECT_EQ(log.lines[0], "out Restarting client");
    EXPECT_EQ(log.lines[1], "out Client restarted, PID: 4001");
}

TEST(ClientMonitor, LogsAFailedRestartAndTriesAgain) {
    ScriptedStation station;
    station.restart_fails = true;
    station.stop_after_restarts = 2;
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_EQ(station.events, (std::vector<std::string>{"restart@3", "restart@7"}));
    EXPECT_EQ(log.count("err Client restart failed: CreateProcess failed: no such file (os error 2)"), 2);
}

TEST(ClientMonitor, LeavesARunningClientAloneAndStandsAsideDuringShutdown) {
    ScriptedStation station;
    station.stop_after = 60s;
    station.running = [](auto t) { return t < 20s; };
    station.shutting = [](auto) { return true; };
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_TRUE(station.events.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST(ClientMonitor, WaitsOneHundredEightySecondsForAPendingUpdateThenClearsAndRestarts) {
    ScriptedStation station;
    station.stop_after_restarts = 1;
    station.pending = [](auto) { return true; };
    Log log;
    run_client_monitor(station, log.sink());
    // Pending seen first at 3 s: waiting lines at 3..182, the time-out at 183.
    EXPECT_EQ(log.count("out client update pending; waiting for updater service"), 180);
    EXPECT_EQ(log.count("err client update pending timed out after 180s; restarting client"), 1);
    EXPECT_EQ(station.events, (std::vector<std::string>{"clear@183", "restart@183"}));
}

TEST(ClientMonitor, AfterATimedOutRestartAStillPendingUpdateStartsAFreshWait) {
    // pending-installer.json stays: the monitor waits 180 s, restarts once, then waits again.
    ScriptedStation station;
    station.stop_after_restarts = 2;
    station.pending = [](auto) { return true; };
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_EQ(station.events, (std::vector<std::string>{"clear@183", "restart@183", "clear@367", "restart@367"}));
}

TEST(ClientMonitor, ARunningClientEndsTheWaitAndANewAbsenceStartsAFreshOne) {
    ScriptedStation station;
    station.stop_after_restarts = 1;
    station.pending = [](auto) { return true; };
    station.running = [](auto t) { return t >= 100s && t < 150s; };
    Log log;
    run_client_monitor(station, log.sink());
    // 3..99 waiting, the client runs 100..149, a fresh 180 s wait from 150 ends at 330.
    EXPECT_EQ(station.events, (std::vector<std::string>{"clear@330", "restart@330"}));
}

TEST(ClientMonitor, AShutdownPassKeepsThePendingClock) {
    ScriptedStation station;
    station.stop_after_restarts = 1;
    station.pending = [](auto) { return true; };
    station.shutting = [](auto t) { return t >= 50s && t < 70s; };
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_EQ(station.events, (std::vector<std::string>{"clear@183", "restart@183"}));
    EXPECT_EQ(log.count("out client update pending; waiting for updater service"), 160);
}

TEST(ClientMonitor, AnUpdateThatEndsInTimeLeadsToAPlainRestart) {
    ScriptedStation station;
    station.stop_after_restarts = 1;
    station.pending = [](auto t) { return t < 40s; };
    Log log;
    run_client_monitor(station, log.sink());
    EXPECT_EQ(station.events, (std::vector<std::string>{"restart@40"}));
    EXPECT_EQ(log.count("err client update pending timed out after 180s; restarting client"), 0);
}

// The updates folder as a map of names to modification times; absent names are absent files.
class FakeMarkers final : public UpdateMarkerFiles {
public:
    bool exists(std::string_view name) override { return files.contains(std::string(name)); }
    std::optional<std::chrono::system_clock::time_point> modified(std::string_view name) override {
        const auto found = files.find(std::string(name));
        if (found == files.end()) return std::nullopt;
        return found->second;
    }
    void remove(std::string_view name) override {
        removed.insert(std::string(name));
        files.erase(std::string(name));
    }
    std::map<std::string, std::chrono::system_clock::time_point> files;
    std::set<std::string> removed;
};

TEST(ClientUpdatePending, MarkerTable) {
    const auto now = std::chrono::system_clock::time_point(std::chrono::hours(480000));
    using Files = std::map<std::string, std::chrono::system_clock::time_point>;
    const struct {
        const char* name;
        Files files;
        bool pending;
        bool update_marker_removed;
    } cases[] = {
        {"nothing", {}, false, false},
        {"installer marker", {{"pending-installer.json", now - 1h}}, true, false},
        {"relaunch marker", {{"pending-relaunch.json", now - 1h}}, true, false},
        {"update marker with signature", {{"pending-update.json", now - 1h}, {"manifest.json.sig", now - 1h}}, true, false},
        {"fresh unsigned update marker", {{"pending-update.json", now - 29s}}, true, false},
        {"just under the grace", {{"pending-update.json", now - 29999ms}}, true, false},
        {"unsigned marker at 30 s", {{"pending-update.json", now - 30s}}, false, true},
        {"old unsigned marker", {{"pending-update.json", now - 1h}}, false, true},
        {"marker dated in the future", {{"pending-update.json", now + 1s}}, false, true},
        {"signature alone", {{"manifest.json.sig", now}}, false, false},
        {"installer beats a stale update marker", {{"pending-installer.json", now}, {"pending-update.json", now - 1h}}, true, false},
    };
    for (const auto& c : cases) {
        FakeMarkers markers;
        markers.files = c.files;
        Log log;
        EXPECT_EQ(client_update_pending(markers, now, log.sink()), c.pending) << c.name;
        EXPECT_EQ(markers.removed.contains("pending-update.json"), c.update_marker_removed) << c.name;
        EXPECT_EQ(log.count("err stale unsigned client update marker found; clearing pending marker"), c.update_marker_removed ? 1 : 0)
            << c.name;
        // The installer and relaunch markers belong to the service alone.
        EXPECT_FALSE(markers.removed.contains("pending-installer.json")) << c.name;
        EXPECT_FALSE(markers.removed.contains("pending-relaunch.json")) << c.name;
    }
}

TEST(ClientUpdatePending, AnUnreadableMarkerTimeCountsAsStale) {
    EXPECT_FALSE(unsigned_marker_still_fresh(std::nullopt, std::chrono::system_clock::now()));
}

}  // namespace
}  // namespace kv
