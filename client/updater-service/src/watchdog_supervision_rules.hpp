#pragma once
// Pure rules of the watchdog supervisor: pauses between starts, quick exits and the
// heartbeat time-out with its stall guard.
#include <chrono>
#include <cstdint>
#include <optional>

#include "monotonic_clock.hpp"

namespace kv {

inline constexpr std::chrono::seconds watchdog_quick_exit_limit{15};

// By quick_exits at the moment of a successful start: 0, 1, 2, 5, 10, then 30 s.
std::chrono::seconds pause_after_watchdog_start(std::uint32_t quick_exits);
// By quick_exits after a failed start has increased it: 2, 2, 5, 10, then 30 s.
std::chrono::seconds pause_after_failed_watchdog_start(std::uint32_t quick_exits);

// A watchdog that ended: counts as a quick exit when it ran less than 15 s.
std::uint32_t quick_exits_after_exit(std::uint32_t quick_exits, std::chrono::steady_clock::duration ran);
std::uint32_t saturating_increment(std::uint32_t value);

struct HeartbeatWatch {
    std::optional<MonotonicTime> last_beat_at;
    std::optional<MonotonicTime> last_pass_at;
    MonotonicTime silence_start;
};

// Why a pass starts no watchdog, in the order the conditions are tested.
enum class WatchdogLaunchBlock {
    watchdog_running,
    update_pending,
    exit_announced,
    no_console_session,  // session 0 (services) or none at all
    no_user_token,
    pausing,  // before next_launch
    pipe_not_held,
};

struct WatchdogLaunchFacts {
    bool watchdog_running = false;
    bool update_pending = false;
    bool exit_announced = false;
    std::uint32_t console_session = 0;
    bool user_token_available = false;
    std::optional<MonotonicTime> next_launch;
    bool pipe_held = false;
};

// The first condition that holds back a start; nothing when a watchdog may be started now.
std::optional<WatchdogLaunchBlock> watchdog_launch_block(const WatchdogLaunchFacts& facts, MonotonicTime now);

// One pass over a running watchdog: records a beat, forgives a gap of more than 10 s between
// passes, and tells whether it has been silent too long (15 s after a beat, 20 s without).
bool watchdog_stopped_beating(HeartbeatWatch& watch, bool beat_received, MonotonicTime now);

}  // namespace kv
