#include "watchdog_supervision_rules.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(WatchdogPauses, GrowWithQuickExits) {
    const std::int64_t after_start[] = {0, 1, 2, 5, 10, 30, 30};
    for (std::uint32_t n = 0; n < 7; ++n) EXPECT_EQ(pause_after_watchdog_start(n).count(), after_start[n]) << n;
    EXPECT_EQ(pause_after_watchdog_start(UINT32_MAX), 30s);
    const std::int64_t after_failure[] = {2, 2, 2, 5, 10, 30, 30};
    for (std::uint32_t n = 0; n < 7; ++n) EXPECT_EQ(pause_after_failed_watchdog_start(n).count(), after_failure[n]) << n;
}

TEST(WatchdogPauses, QuickExitsCountUntilOneRunsFifteenSeconds) {
    EXPECT_EQ(quick_exits_after_exit(0, 14999ms), 1u);
    EXPECT_EQ(quick_exits_after_exit(4, 1s), 5u);
    EXPECT_EQ(quick_exits_after_exit(4, 15s), 0u);
    EXPECT_EQ(quick_exits_after_exit(UINT32_MAX, 1s), UINT32_MAX);
}

TEST(WatchdogLaunch, TheFirstConditionThatHoldsBlocksTheStart) {
    testing::FakeClock clock;
    const MonotonicTime now = clock.now();
    const WatchdogLaunchFacts ready{false, false, false, 1, true, now, true};
    using Block = WatchdogLaunchBlock;
    // Each row changes the ready facts; conditions earlier in the order win over later ones.
    const struct {
        const char* name;
        void (*change)(WatchdogLaunchFacts&, MonotonicTime);
        std::optional<Block> expected;
    } rows[] = {
        {"ready, pause just over", [](WatchdogLaunchFacts&, MonotonicTime) {}, std::nullopt},
        {"never started", [](WatchdogLaunchFacts& f, MonotonicTime) { f.next_launch.reset(); }, std::nullopt},
        {"one runs", [](WatchdogLaunchFacts& f, MonotonicTime) { f.watchdog_running = true; f.pipe_held = false; }, Block::watchdog_running},
        {"update pending", [](WatchdogLaunchFacts& f, MonotonicTime) { f.update_pending = true; f.exit_announced = true; }, Block::update_pending},
        {"exit announced", [](WatchdogLaunchFacts& f, MonotonicTime) { f.exit_announced = true; f.console_session = 0; }, Block::exit_announced},
        {"services session", [](WatchdogLaunchFacts& f, MonotonicTime) { f.console_session = 0; f.user_token_available = false; }, Block::no_console_session},
        {"no session", [](WatchdogLaunchFacts& f, MonotonicTime) { f.console_session = 0xFFFFFFFF; }, Block::no_console_session},
        {"nobody signed in", [](WatchdogLaunchFacts& f, MonotonicTime) { f.user_token_available = false; f.pipe_held = false; }, Block::no_user_token},
        {"pausing", [](WatchdogLaunchFacts& f, MonotonicTime t) { f.next_launch = t + 1ms; f.pipe_held = false; }, Block::pausing},
        {"pipe not held", [](WatchdogLaunchFacts& f, MonotonicTime) { f.pipe_held = false; }, Block::pipe_not_held},
        {"another session", [](WatchdogLaunchFacts& f, MonotonicTime) { f.console_session = 7; }, std::nullopt},
    };
    for (const auto& row : rows) {
        WatchdogLaunchFacts facts = ready;
        row.change(facts, now);
        EXPECT_EQ(watchdog_launch_block(facts, now), row.expected) << row.name;
    }
}

TEST(WatchdogHeartbeat, SilentFromTheStartIsEndedAfterTwentySeconds) {
    testing::FakeClock clock;
    HeartbeatWatch watch{std::nullopt, std::nullopt, clock.now()};
    for (int second = 1; second < 20; ++second) {
        clock.advance(1s);
        EXPECT_FALSE(watchdog_stopped_beating(watch, false, clock.now())) << second;
    }
    clock.advance(1s);
    EXPECT_TRUE(watchdog_stopped_beating(watch, false, clock.now()));
}

TEST(WatchdogHeartbeat, FifteenSecondsAfterTheLastBeat) {
    testing::FakeClock clock;
    HeartbeatWatch watch{std::nullopt, std::nullopt, clock.now()};
    clock.advance(1s);
    EXPECT_FALSE(watchdog_stopped_beating(watch, true, clock.now()));
    for (int second = 1; second < 15; ++second) {
        clock.advance(1s);
        EXPECT_FALSE(watchdog_stopped_beating(watch, false, clock.now())) << second;
    }
    clock.advance(1s);
    EXPECT_TRUE(watchdog_stopped_beating(watch, false, clock.now()));
}

TEST(WatchdogHeartbeat, AGapBetweenPassesRestartsTheCount) {
    testing::FakeClock clock;
    HeartbeatWatch watch{std::nullopt, std::nullopt, clock.now()};
    clock.advance(1s);
    EXPECT_FALSE(watchdog_stopped_beating(watch, true, clock.now()));
    clock.advance(10s);
    EXPECT_FALSE(watchdog_stopped_beating(watch, false, clock.now())) << "exactly 10 s is no stall";
    clock.advance(11s);
    EXPECT_FALSE(watchdog_stopped_beating(watch, false, clock.now())) << "a stall restarts the beat clock";
    clock.advance(9s);
    EXPECT_FALSE(watchdog_stopped_beating(watch, false, clock.now()));
    clock.advance(6s);
    EXPECT_TRUE(watchdog_stopped_beating(watch, false, clock.now())) << "15 s after the stalled pass";

    HeartbeatWatch silent{std::nullopt, std::nullopt, clock.now()};
    clock.advance(1s);
    EXPECT_FALSE(watchdog_stopped_beating(silent, false, clock.now()));
    clock.advance(30s);
    EXPECT_FALSE(watchdog_stopped_beating(silent, false, clock.now())) << "the silence starts again after a stall";
    clock.advance(10s);
    EXPECT_FALSE(watchdog_stopped_beating(silent, false, clock.now()));
    clock.advance(10s);
    EXPECT_TRUE(watchdog_stopped_beating(silent, false, clock.now()));
}

}  // namespace
}  // namespace kv
