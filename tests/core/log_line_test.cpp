#include "log_line.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

using std::chrono::seconds;
using std::chrono::system_clock;

TEST(LogLine, StampsWholeSecondsAndKeepsTheMessage) {
    EXPECT_EQ(format_log_line(1765342800, "service running"), "[1765342800] service running\n");
    EXPECT_EQ(format_log_line(0, "two\nlines"), "[0] two\nlines\n");
    EXPECT_EQ(format_log_line(7, ""), "[7] \n");
}

TEST(LogLine, ClockBeforeTheEpochCountsAsZero) {
    EXPECT_EQ(unix_seconds(system_clock::time_point(seconds(-5))), 0u);
    EXPECT_EQ(unix_seconds(system_clock::time_point(seconds(1765342800)) + std::chrono::milliseconds(999)), 1765342800u);
}

}  // namespace
}  // namespace kv
