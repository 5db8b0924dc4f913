#include "watchdog_log.hpp"

namespace kv {

std::string watchdog_log_line(std::string_view message) {
    std::string line = "[watchdog] ";
    line += message;
    line += '\n';
    return line;
}

}  // namespace kv
