#include "watchdog_arguments.hpp"

#include <limits>

namespace kv {

std::optional<std::uint64_t> parse_handle_value(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value == 0) return std::nullopt;
    return value;
}

WatchdogArguments parse_watchdog_arguments(const std::vector<std::string>& arguments) {
    WatchdogArguments parsed;
    for (const std::string_view argument : arguments) {
        if (argument.starts_with(service_pipe_option)) {
            if (auto value = parse_handle_value(argument.substr(service_pipe_option.size()))) parsed.service_pipe = value;
        } else if (argument.starts_with(service_heartbeat_option)) {
            if (auto value = parse_handle_value(argument.substr(service_heartbeat_option.size()))) {
                parsed.service_heartbeat = value;
            }
        }
    }
    return parsed;
}

}  // namespace kv
