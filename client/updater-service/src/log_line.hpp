#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// Whole seconds since 1970-01-01 UTC; 0 for a clock set before that.
std::uint64_t unix_seconds(std::chrono::system_clock::time_point now);

// "[{seconds}] {message}" and LF; the message is kept exactly, line breaks included.
std::string format_log_line(std::uint64_t seconds, std::string_view message);

}  // namespace kv
