#pragma once
// The watchdog has no log file: progress goes to standard output, failures to standard error.
#include <functional>
#include <string>
#include <string_view>

namespace kv {

enum class LogStream { out, err };

// Receives one message without its "[watchdog] " prefix and line end.
using WatchdogLog = std::function<void(LogStream stream, std::string_view message)>;

// "[watchdog] {message}\n", the exact bytes of one line.
std::string watchdog_log_line(std::string_view message);

}  // namespace kv
