#pragma once
// Writes watchdog lines to the standard handles the program was given, one write per line.
#include <string_view>

#include "watchdog_log.hpp"

namespace kv {

// Progress to standard output, failures to standard error; a failed write is ignored.
void write_watchdog_line(LogStream stream, std::string_view message);

// The program's log function, for the parts that take one.
WatchdogLog watchdog_log();

}  // namespace kv
