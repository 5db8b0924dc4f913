#include "watchdog_arguments.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct ArgumentsCase {
    std::vector<std::string> arguments;
    std::optional<std::uint64_t> pipe;
    std::optional<std::uint64_t> heartbeat;
    bool service_launched;
};

TEST(WatchdogArguments, ModeAndHandleValues) {
    const ArgumentsCase cases[] = {
        {{}, {}, {}, false},
        {{"--service-pipe=12", "--service-heartbeat=34"}, 12, 34, true},
        {{"--service-heartbeat=34", "--service-pipe=12"}, 12, 34, true},
        {{"--service-pipe=12"}, 12, {}, false},
        {{"--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=0", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=+12", "--service-heartbeat=34"}, 12, 34, true},
        {{"--service-pipe=-12", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=12x", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=++12", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe=+", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe= 12", "--service-heartbeat=34"}, {}, 34, false},
        // A later valid occurrence wins; an invalid or zero one never clears an earlier one.
        {{"--service-pipe=12", "--service-pipe=56", "--service-heartbeat=34"}, 56, 34, true},
        {{"--service-pipe=12", "--service-pipe=x", "--service-heartbeat=34"}, 12, 34, true},
        {{"--service-pipe=12", "--service-pipe=0", "--service-heartbeat=34"}, 12, 34, true},
        {{"--service-pipe=12", "--service-pipe=", "--service-heartbeat=34", "--service-heartbeat=-1"}, 12, 34, true},
        // Other arguments, other spellings and the bare option names are ignored.
        {{"--SERVICE-PIPE=12", "--service-heartbeat=34"}, {}, 34, false},
        {{"--service-pipe", "12", "--service-heartbeat=34"}, {}, 34, false},
        {{"/service-pipe=12", "--service-heartbeat=34", "extra"}, {}, 34, false},
        // The full unsigned 64-bit range, and no further.
        {{"--service-pipe=18446744073709551615", "--service-heartbeat=1"}, 18446744073709551615ull, 1, true},
        {{"--service-pipe=18446744073709551616", "--service-heartbeat=1"}, {}, 1, false},
        {{"--service-pipe=0007", "--service-heartbeat=+0008"}, 7, 8, true},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments) shown += "[" + a + "]";
        const WatchdogArguments parsed = parse_watchdog_arguments(c.arguments);
        EXPECT_EQ(parsed.service_pipe, c.pipe) << shown;
        EXPECT_EQ(parsed.service_heartbeat, c.heartbeat) << shown;
        EXPECT_EQ(parsed.service_launched(), c.service_launched) << shown;
    }
}

}  // namespace
}  // namespace kv
