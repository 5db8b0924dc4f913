#pragma once
// The watchdog's command line: two inherited handle values from the service, or none.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr std::string_view service_pipe_option = "--service-pipe=";
inline constexpr std::string_view service_heartbeat_option = "--service-heartbeat=";

struct WatchdogArguments {
    std::optional<std::uint64_t> service_pipe;       // named-pipe server handle value
    std::optional<std::uint64_t> service_heartbeat;  // heartbeat write-end handle value

    // Both handles are needed; a lone one means the program was started by hand.
    bool service_launched() const { return service_pipe.has_value() && service_heartbeat.has_value(); }
};

// A decimal unsigned 64-bit value, one optional leading "+", non-zero; anything else is none.
std::optional<std::uint64_t> parse_handle_value(std::string_view text);

// Every argument but the program name. Unknown arguments are ignored; the last valid
// occurrence of an option wins and an invalid one never clears an earlier valid one.
WatchdogArguments parse_watchdog_arguments(const std::vector<std::string>& arguments);

}  // namespace kv
