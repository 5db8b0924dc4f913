// The watchdog's argument parser: NUL-separated arguments, checked against a plain reference.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watchdog_arguments.hpp"

namespace {

std::optional<std::uint64_t> reference(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const std::size_t first = text.find_first_not_of('0');
    if (first == std::string_view::npos) return std::nullopt;  // zero
    const std::string_view digits = text.substr(first);
    if (digits.size() > 20 || (digits.size() == 20 && digits > "18446744073709551615")) return std::nullopt;
    return std::stoull(std::string(digits));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start <= bytes.size();) {
        const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
        std::string argument(bytes.substr(start, end - start));
        // Half the arguments get an option name, so the values are reached often.
        if (!argument.empty() && (argument[0] & 1)) argument = "--service-pipe=" + argument.substr(1);
        else if (!argument.empty() && (argument[0] & 2)) argument = "--service-heartbeat=" + argument.substr(1);
        arguments.push_back(std::move(argument));
        start = end + 1;
    }
    std::optional<std::uint64_t> pipe, heartbeat;
    for (const auto& argument : arguments) {
        const std::string_view text(argument);
        if (text.starts_with("--service-pipe=")) {
            if (auto value = reference(text.substr(15))) pipe = value;
        } else if (text.starts_with("--service-heartbeat=")) {
            if (auto value = reference(text.substr(20))) heartbeat = value;
        }
    }
    const kv::WatchdogArguments parsed = kv::parse_watchdog_arguments(arguments);
    if (parsed.service_pipe != pipe || parsed.service_heartbeat != heartbeat) __builtin_trap();
    if (parsed.service_launched() != (pipe.has_value() && heartbeat.has_value())) __builtin_trap();
    for (const auto& argument : arguments) {
        const auto value = kv::parse_handle_value(argument);
        if (value != reference(argument)) __builtin_trap();
        if (value && kv::parse_handle_value(std::to_string(*value)) != value) __builtin_trap();
    }
    return 0;
}
