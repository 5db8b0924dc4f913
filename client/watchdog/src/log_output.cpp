#include "log_output.hpp"

#include <windows.h>

#include <string>

namespace kv {

void write_watchdog_line(LogStream stream, std::string_view message) {
    // A windowless program has no console; the handles are whatever the starter passed.
    const HANDLE target = GetStdHandle(stream == LogStream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (target == nullptr || target == INVALID_HANDLE_VALUE) return;
    const std::string line = watchdog_log_line(message);
    DWORD written = 0;
    WriteFile(target, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

WatchdogLog watchdog_log() { return write_watchdog_line; }

}  // namespace kv
