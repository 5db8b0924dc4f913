#include "clock_budget.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(ParseSettimeEpoch, RangeSignAndNumberRules) {
    const struct {
        std::optional<std::string_view> argument;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {std::nullopt, "SETTIME needs an epoch"},
        {"1790000000", nullptr},
        {"+1790000000", nullptr},
        {"4102444799", nullptr},
        {"1789999999", "epoch 1789999999 is out of range"},
        {"4102444800", "epoch 4102444800 is out of range"},
        {"-5", "epoch -5 is out of range"},
        {"+", "epoch is not a number"},
        {"", "epoch is not a number"},
        {"17900000x0", "epoch is not a number"},
        {" 1790000000", "epoch is not a number"},
        {"9223372036854775808", "epoch is not a number"},
        {"-9223372036854775808", "epoch -9223372036854775808 is out of range"},
    };
    for (const auto& c : cases) {
        const auto parsed = parse_settime_epoch(c.argument);
        if (c.error == nullptr) {
            EXPECT_TRUE(parsed) << c.argument.value_or("<none>");
        } else {
            ASSERT_FALSE(parsed) << c.argument.value_or("<none>");
            EXPECT_EQ(parsed.error(), c.error);
        }
    }
}

TEST(Ledger, ReadsWellFormedPiecesAndWritesThemBack) {
    EXPECT_TRUE(parse_ledger("").empty());
    EXPECT_EQ(parse_ledger("word,1800000000:-3600,42"), (std::vector<LedgerEntry>{{1800000000, -3600}}));
    EXPECT_EQ(parse_ledger(" 1800000000 : +60 ,1800000100:x,1800000200:-1:2"), (std::vector<LedgerEntry>{{1800000000, 60}}));
    EXPECT_EQ(format_ledger({{1800000000, -3600}, {1800000100, 100}}), "1800000000:-3600,1800000100:100");
    EXPECT_EQ(format_ledger({}), "");
}

TEST(PlanClockAdjustment, SpendsTheWeeklyBudgetByAbsoluteSteps) {
    const std::int64_t now = 1800000000;
    const auto planned = plan_clock_adjustment({}, now, now + 259200);
    ASSERT_TRUE(planned) << planned.error();
    EXPECT_EQ(*planned, (std::vector<LedgerEntry>{{now + 259200, 259200}}));

    const auto refused = plan_clock_adjustment(*planned, now + 259200, now + 259199);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "clock adjustment budget used up (259200 s of 259200 s this week, asked for -1 s)");

    const auto back = plan_clock_adjustment({}, now, now - 3600);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->back().adjustment, -3600);
    const auto after_back = plan_clock_adjustment(*back, now, now + 255601);
    ASSERT_FALSE(after_back) << "a step back counts with its size";

    const auto free_step = plan_clock_adjustment({}, now, now);
    ASSERT_TRUE(free_step);
    EXPECT_EQ(*free_step, (std::vector<LedgerEntry>{{now, 0}}));
}

TEST(PlanClockAdjustment, OnlyTheLastSevenDaysCount) {
    const std::int64_t now = 1800000000;
    const std::vector<LedgerEntry> ledger = {{now - 604800, 259200}, {now - 604799, 100}};
    const auto planned = plan_clock_adjustment(ledger, now, now + 259100);
    ASSERT_TRUE(planned) << planned.error();
    EXPECT_EQ(*planned, (std::vector<LedgerEntry>{{now - 604799, 100}, {now + 259100, 259100}}));
    EXPECT_FALSE(plan_clock_adjustment(ledger, now, now + 259101));
}

TEST(ClockSpacing, AMinuteMustPassBetweenChanges) {
    testing::FakeClock clock;
    EXPECT_FALSE(clock_set_too_recently(std::nullopt, clock.now()));
    const auto set_at = clock.now();
    clock.advance(59999ms);
    EXPECT_TRUE(clock_set_too_recently(set_at, clock.now()));
    clock.advance(1ms);
    EXPECT_FALSE(clock_set_too_recently(set_at, clock.now()));
}

}  // namespace
}  // namespace kv
