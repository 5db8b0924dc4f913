#include "watchdog_supervision_rules.hpp"

#include <limits>

namespace kv {

using namespace std::chrono;

seconds pause_after_watchdog_start(std::uint32_t quick_exits) {
    constexpr std::int64_t pauses[] = {0, 1, 2, 5, 10, 30};
    return seconds(pauses[quick_exits < 5 ? quick_exits : 5]);
}

seconds pause_after_failed_watchdog_start(std::uint32_t quick_exits) {
    if (quick_exits <= 2) return seconds(2);
    if (quick_exits == 3) return seconds(5);
    if (quick_exits == 4) return seconds(10);
    return seconds(30);
}

std::uint32_t saturating_increment(std::uint32_t value) {
    return value == std::numeric_limits<std::uint32_t>::max() ? value : value + 1;
}

std::uint32_t quick_exits_after_exit(std::uint32_t quick_exits, steady_clock::duration ran) {
    return ran < watchdog_quick_exit_limit ? saturating_increment(quick_exits) : 0;
}

std::optional<WatchdogLaunchBlock> watchdog_launch_block(const WatchdogLaunchFacts& facts, MonotonicTime now) {
    constexpr std::uint32_t no_console_session = 0xFFFFFFFF;
    if (facts.watchdog_running) return WatchdogLaunchBlock::watchdog_running;
    if (facts.update_pending) return WatchdogLaunchBlock::update_pending;
    if (facts.exit_announced) return WatchdogLaunchBlock::exit_announced;
    if (facts.console_session == 0 || facts.console_session == no_console_session) return WatchdogLaunchBlock::no_console_session;
    if (!facts.user_token_available) return WatchdogLaunchBlock::no_user_token;
    if (facts.next_launch && now < *facts.next_launch) return WatchdogLaunchBlock::pausing;
    if (!facts.pipe_held) return WatchdogLaunchBlock::pipe_not_held;
    return std::nullopt;
}

bool watchdog_stopped_beating(HeartbeatWatch& watch, bool beat_received, MonotonicTime now) {
    if (beat_received) watch.last_beat_at = now;
    // A long gap between passes (the service was busy) is not the watchdog's silence.
    if (watch.last_pass_at && now - *watch.last_pass_at > seconds(10)) {
        if (watch.last_beat_at) {
            watch.last_beat_at = now;
        } else {
            watch.silence_start = now;
        }
    }
    watch.last_pass_at = now;
    const MonotonicTime since = watch.last_beat_at ? *watch.last_beat_at : watch.silence_start;
    const seconds limit = watch.last_beat_at ? seconds(15) : seconds(20);
    return duration_cast<seconds>(now - since) >= limit;
}

}  // namespace kv
