#include "log_line.hpp"

namespace kv {

std::uint64_t unix_seconds(std::chrono::system_clock::time_point now) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

std::string format_log_line(std::uint64_t seconds, std::string_view message) {
    std::string line(1, '[');
    line += std::to_string(seconds);
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

}  // namespace kv
