#include "system_error.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(FormatSystemError, TrimsTheMessageAndAppendsTheCode) {
    EXPECT_EQ(format_system_error("Access is denied.\r\n", 5), "Access is denied. (os error 5)");
    EXPECT_EQ(format_system_error("", 0), " (os error 0)");
    EXPECT_EQ(format_system_error("x", 4294967295u), "x (os error 4294967295)");
}

}  // namespace
}  // namespace kv
