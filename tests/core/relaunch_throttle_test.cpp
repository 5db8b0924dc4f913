#include "relaunch_throttle.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(RelaunchThrottle, DelayTable) {
    const std::pair<std::uint32_t, std::chrono::seconds> table[] = {{0, 0s}, {1, 1s},  {2, 2s},         {3, 5s},
                                                                    {4, 10s}, {5, 30s}, {6, 30s}, {0xFFFFFFFF, 30s}};
    for (const auto& [failures, delay] : table) EXPECT_EQ(relaunch_delay(failures), delay) << failures;
}

// A client that dies at once, looked for once a second: the launch times in seconds.
std::vector<long long> launches_of_a_dying_client(std::chrono::seconds duration) {
    testing::FakeClock clock;
    const auto start = clock.now();
    RelaunchThrottle throttle;
    std::vector<long long> launched_at;
    while (clock.now() - start <= duration) {
        if (const auto delay = throttle.launch_due(clock.now())) {
            throttle.launched(*delay, clock.now());
            launched_at.push_back(std::chrono::duration_cast<std::chrono::seconds>(clock.now() - start).count());
        }
        clock.advance(1s);
    }
    return launched_at;
}

TEST(RelaunchThrottle, QuickDeathsStretchThePausesToThirtySeconds) {
    // Gaps 1, 1, 2, 5, 10, then 30 s.
    EXPECT_EQ(launches_of_a_dying_client(120s), (std::vector<long long>{0, 1, 2, 4, 9, 19, 49, 79, 109}));
}

TEST(RelaunchThrottle, ALaunchThatLivedFifteenSecondsResetsTheCount) {
    const struct {
        std::chrono::seconds lived;
        std::uint32_t failures;
        std::chrono::seconds delay;
    } cases[] = {{14s, 3, 5s}, {15s, 0, 0s}, {40s, 0, 0s}};
    for (const auto& c : cases) {
        testing::FakeClock clock;
        RelaunchThrottle throttle;
        // Two quick deaths first.
        for (int i = 0; i < 3; ++i) {
            clock.advance(5s);
            const auto delay = throttle.launch_due(clock.now());
            ASSERT_TRUE(delay);
            throttle.launched(*delay, clock.now());
        }
        ASSERT_EQ(throttle.fields().failures, 2u);
        clock.advance(c.lived);
        const auto delay = throttle.launch_due(clock.now());
        ASSERT_TRUE(delay) << c.lived.count();
        EXPECT_EQ(*delay, c.delay) << c.lived.count();
        EXPECT_EQ(throttle.fields().failures, c.failures) << c.lived.count();
        EXPECT_FALSE(throttle.fields().last_launch);
    }
}

TEST(RelaunchThrottle, SeenRunningThirtySecondsAfterALaunchResetsTheCount) {
    testing::FakeClock clock;
    RelaunchThrottle throttle;
    for (int i = 0; i < 4; ++i) {
        const auto delay = throttle.launch_due(clock.now());
        throttle.launched(*delay, clock.now());
        clock.advance(12s);
    }
    ASSERT_EQ(throttle.fields().failures, 3u);
    throttle.client_running(clock.now() + 18s - 1ms);  // 29.999 s after the last launch
    EXPECT_EQ(throttle.fields().failures, 3u);
    throttle.client_running(clock.now() + 18s);
    EXPECT_EQ(throttle.fields().failures, 0u);
}

TEST(RelaunchThrottle, FailedLaunchesRetryNoSoonerThanTwoSecondsAndKeepTheCount) {
    testing::FakeClock clock;
    RelaunchThrottle throttle;
    std::vector<int> attempts;
    for (int second = 0; second <= 8; ++second) {
        if (const auto delay = throttle.launch_due(clock.now())) {
            attempts.push_back(second);
            throttle.launch_failed(*delay, clock.now());
        }
        clock.advance(1s);
    }
    EXPECT_EQ(attempts, (std::vector<int>{0, 2, 4, 6, 8}));
    EXPECT_EQ(throttle.fields().failures, 0u);
    EXPECT_FALSE(throttle.fields().last_launch);
}

}  // namespace
}  // namespace kv
