#pragma once
// Liveness beats to the updater service over the inherited heartbeat pipe.
#include <windows.h>

#include <cstdint>
#include <limits>

namespace kv {

// Whether a beat is due: only when the main loop has turned since the last check, so a
// watchdog whose message loop is stuck falls silent.
inline bool beat_due(std::uint64_t loop_ticks, std::uint64_t ticks_at_last_check) { return loop_ticks != ticks_at_last_check; }

// Thread body, started only in service-launched mode: one "." every 2 s while the main loop
// turns; ends after the first failed write, with one line on standard error.
void run_beat_loop(HANDLE heartbeat);

}  // namespace kv
