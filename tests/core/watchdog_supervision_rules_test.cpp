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
