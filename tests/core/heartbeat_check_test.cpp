#include "heartbeat_check.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
using V = HeartbeatVerdict;

// Walks a client that beat once, checked every `step`, and returns the verdict at each check.
std::vector<std::pair<std::chrono::seconds, V>> walk(std::chrono::seconds step, std::chrono::seconds until) {
    testing::FakeClock clock;
    ClientHeartbeatsFields record;
    record.last_beat[7] = clock.now();
    std::vector<std::pair<std::chrono::seconds, V>> verdicts;
    for (auto elapsed = 0s; elapsed <= until; elapsed += step) {
        verdicts.emplace_back(elapsed, check_heartbeat(record, 7, clock.now()));
        clock.advance(step);
    }
    return verdicts;
}

TEST(HeartbeatCheck, WarnsOnceAtNinetySecondsAndJudgesUnresponsiveAtOneHundredTwenty) {
    std::map<std::chrono::seconds, V> at;
    for (const auto& [elapsed, verdict] : walk(1s, 130s)) at[elapsed] = verdict;
    EXPECT_EQ(at[0s], V::Fresh);
    EXPECT_EQ(at[89s], V::Fresh);
    EXPECT_EQ(at[90s], V::FirstWarning);
    EXPECT_EQ(at[91s], V::StillWarned);
    EXPECT_EQ(at[119s], V::StillWarned);
    EXPECT_EQ(at[120s], V::Unresponsive);
    EXPECT_EQ(at[130s], V::Unresponsive);
    int warnings = 0;
    for (const auto& [elapsed, verdict] : at) warnings += verdict == V::FirstWarning;
    EXPECT_EQ(warnings, 1);
}

TEST(HeartbeatCheck, AClientThatNeverBeatIsFreshForever) {
    testing::FakeClock clock;
    ClientHeartbeatsFields record;
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(check_heartbeat(record, 7, clock.now()), V::Fresh);
        clock.advance(5s);
    }
}

TEST(HeartbeatCheck, AStallOfMoreThanTenSecondsRestartsEveryBeatClock) {
    const struct {
        std::chrono::seconds stall;
        V verdict;
    } cases[] = {{10s, V::FirstWarning}, {11s, V::Fresh}, {600s, V::Fresh}};
    for (const auto& c : cases) {
        testing::FakeClock clock;
        ClientHeartbeatsFields record;
        record.last_beat[7] = clock.now();
        clock.advance(80s);
        (void)check_heartbeat(record, 7, clock.now());
        clock.advance(c.stall);
        EXPECT_EQ(check_heartbeat(record, 7, clock.now()), c.verdict) << c.stall.count();
    }
}

TEST(HeartbeatCheck, ABeatAfterTheWarningAllowsANewWarning) {
    testing::FakeClock clock;
    ClientHeartbeats heartbeats;
    heartbeats.record_beat(7, clock.now());
    for (int i = 0; i < 9; ++i) {
        clock.advance(10s);
        (void)check_heartbeat(heartbeats, 7, clock.now());
    }
    EXPECT_EQ(heartbeats.fields().warned, (std::set<std::uint32_t>{7}));
    heartbeats.record_beat(7, clock.now());
    for (int i = 0; i < 8; ++i) {
        clock.advance(10s);
        EXPECT_EQ(check_heartbeat(heartbeats, 7, clock.now()), V::Fresh);
    }
    clock.advance(10s);
    EXPECT_EQ(check_heartbeat(heartbeats, 7, clock.now()), V::FirstWarning);
}

TEST(HeartbeatCheck, OtherClientsArePrunedAtSixHundredSecondsAndLoseTheirWarning) {
    testing::FakeClock clock;
    ClientHeartbeatsFields record;
    record.last_beat[1] = clock.now();
    record.warned = {1, 7};
    clock.advance(5s);
    record.last_beat[2] = clock.now();
    clock.advance(595s);
    record.last_check = clock.now() - 1s;
    EXPECT_EQ(check_heartbeat(record, 7, clock.now()), V::Fresh);
    EXPECT_EQ(record.last_beat.count(1), 0u);  // 600 s old
    EXPECT_EQ(record.last_beat.count(2), 1u);  // 595 s old
    EXPECT_EQ(record.warned, (std::set<std::uint32_t>{7}));  // only the checked client's mark stays
    EXPECT_EQ(record.last_check, clock.now());
}

TEST(HeartbeatCheck, TheCheckedClientIsNeverPrunedEvenWhenOld) {
    testing::FakeClock clock;
    ClientHeartbeatsFields record;
    record.last_beat[7] = clock.now();
    clock.advance(700s);
    record.last_check = clock.now() - 5s;
    EXPECT_EQ(check_heartbeat(record, 7, clock.now()), V::Unresponsive);
    EXPECT_EQ(record.last_beat.count(7), 1u);
}

}  // namespace
}  // namespace kv
