#include "heartbeat_link.hpp"

#include "log_output.hpp"
#include "watchdog_state.hpp"

namespace kv {

void run_beat_loop(HANDLE heartbeat) {
    // A value loop_ticks cannot hold at the first check, so the first check beats.
    std::uint64_t last_seen = std::numeric_limits<std::uint64_t>::max();
    for (;;) {
        Sleep(2000);
        const std::uint64_t ticks = watchdog_state().loop_ticks.load();
        if (!beat_due(ticks, last_seen)) continue;
        DWORD written = 0;
        if (!WriteFile(heartbeat, ".", 1, &written, nullptr) && GetLastError() != ERROR_SUCCESS) {
            write_watchdog_line(LogStream::err, "Heartbeat to the service failed; stopping beats");
            return;
        }
        last_seen = ticks;
    }
}

}  // namespace kv
