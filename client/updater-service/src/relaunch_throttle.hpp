#pragma once
// Paces the relaunches of a client that keeps dying: the pause grows with each launch that is
// found gone within 15 s (0, 1, 2, 5, 10, then 30 s). Used only by client supervision.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "monotonic_clock.hpp"

namespace kv {

struct RelaunchThrottleFields {
    std::optional<MonotonicTime> last_launch;   // the latest successful launch
    std::optional<MonotonicTime> next_attempt;  // no launch is tried before this
    std::uint32_t failures = 0;                 // launches that died within 15 s, saturating
};

// The pause that follows a launch, by the failure count.
std::chrono::seconds relaunch_delay(std::uint32_t failures);

class RelaunchThrottle {
public:
    // The client runs: 30 s after a launch the failure count returns to 0.
    void client_running(MonotonicTime now);
    // The client is missing: counts a quick death of the previous launch and returns the
    // delay to use, or nothing while `next_attempt` lies ahead.
    std::optional<std::chrono::seconds> launch_due(MonotonicTime now);
    // The outcome of the launch, with the delay launch_due gave and a fresh `now`.
    void launched(std::chrono::seconds delay, MonotonicTime now);
    void launch_failed(std::chrono::seconds delay, MonotonicTime now);

    RelaunchThrottleFields fields() const;

private:
    mutable std::mutex mutex_;
    RelaunchThrottleFields fields_;
};

}  // namespace kv
