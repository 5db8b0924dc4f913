#include "supervision_records.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(AuthorizedExit, ExpiresOnlyWhenOldEnoughOrSeenGone) {
    const struct {
        const char* name;
        std::chrono::milliseconds age;
        bool seen_gone;
        bool still_announced;
    } cases[] = {
        {"fresh and pending", 9999ms, false, true},
        {"exactly ten seconds", 10s, false, false},
        {"eleven seconds", 11s, false, false},
        {"fresh but seen gone", 1s, true, false},
    };
    for (const auto& c : cases) {
        testing::FakeClock clock;
        AuthorizedExit record;
        record.announce(clock.now());
        if (c.seen_gone) record.mark_seen();
        clock.advance(c.age);
        record.expire(clock.now());
        EXPECT_EQ(record.is_announced(), c.still_announced) << c.name;
        if (!c.still_announced) {
            EXPECT_FALSE(record.fields().announced_at.has_value()) << c.name;
        }
    }
}

TEST(AuthorizedExit, AnnouncingAgainRestartsThePeriodAndPendingState) {
    testing::FakeClock clock;
    AuthorizedExit record;
    record.announce(clock.now());
    record.mark_seen();
    clock.advance(8s);
    record.announce(clock.now());
    EXPECT_TRUE(record.fields().exit_pending);
    clock.advance(8s);
    record.expire(clock.now());
    EXPECT_TRUE(record.is_announced());
    clock.advance(2s);
    record.expire(clock.now());
    EXPECT_FALSE(record.is_announced());
}

TEST(AuthorizedExit, ExpireWithoutAnnouncementChangesNothing) {
    testing::FakeClock clock;
    AuthorizedExit record;
    record.mark_seen();
    record.expire(clock.now());
    const auto fields = record.fields();
    EXPECT_FALSE(fields.announced);
    EXPECT_FALSE(fields.exit_pending);
}

TEST(ClientHeartbeats, BeatRecordsTimeAndLiftsTheWarning) {
    testing::FakeClock clock;
    ClientHeartbeats beats;
    beats.record_beat(42, clock.now());
    beats.with_fields([](ClientHeartbeatsFields& fields) { fields.warned.insert(42); });
    clock.advance(5s);
    beats.record_beat(42, clock.now());
    const auto fields = beats.fields();
    EXPECT_EQ(fields.last_beat.at(42), clock.now());
    EXPECT_EQ(fields.warned.count(42), 0u);
}

TEST(ClientHeartbeats, ForgetRemovesOnlyThatProcess) {
    testing::FakeClock clock;
    ClientHeartbeats beats;
    beats.record_beat(1, clock.now());
    beats.record_beat(2, clock.now());
    beats.with_fields([](ClientHeartbeatsFields& fields) { fields.warned = {1, 2}; });
    beats.forget(1);
    const auto fields = beats.fields();
    EXPECT_EQ(fields.last_beat.count(1), 0u);
    EXPECT_EQ(fields.last_beat.count(2), 1u);
    EXPECT_EQ(fields.warned, (std::set<std::uint32_t>{2}));
}

}  // namespace
}  // namespace kv
