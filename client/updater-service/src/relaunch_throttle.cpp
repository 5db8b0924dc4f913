#include "relaunch_throttle.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr std::array<std::chrono::seconds, 6> delays = {0s, 1s, 2s, 5s, 10s, 30s};
constexpr auto quick_death = 15s;
constexpr auto settled = 30s;
constexpr auto after_success = 1s;
constexpr auto after_failure = 2s;

}  // namespace

std::chrono::seconds relaunch_delay(std::uint32_t failures) {
    return delays[std::min<std::size_t>(failures, delays.size() - 1)];
}

void RelaunchThrottle::client_running(MonotonicTime now) {
    std::lock_guard lock(mutex_);
    if (fields_.last_launch && now - *fields_.last_launch >= settled) fields_.failures = 0;
}

std::optional<std::chrono::seconds> RelaunchThrottle::launch_due(MonotonicTime now) {
    std::lock_guard lock(mutex_);
    if (const auto previous = std::exchange(fields_.last_launch, std::nullopt)) {
        if (now - *previous < quick_death) {
            if (fields_.failures < std::numeric_limits<std::uint32_t>::max()) ++fields_.failures;
        } else {
            fields_.failures = 0;
        }
    }
    if (fields_.next_attempt && now < *fields_.next_attempt) return std::nullopt;
    return relaunch_delay(fields_.failures);
}

void RelaunchThrottle::launched(std::chrono::seconds delay, MonotonicTime now) {
    std::lock_guard lock(mutex_);
    fields_.last_launch = now;
    fields_.next_attempt = now + std::max<std::chrono::seconds>(delay, after_success);
}

void RelaunchThrottle::launch_failed(std::chrono::seconds delay, MonotonicTime now) {
    std::lock_guard lock(mutex_);
    fields_.next_attempt = now + std::max<std::chrono::seconds>(delay, after_failure);
}

RelaunchThrottleFields RelaunchThrottle::fields() const {
    std::lock_guard lock(mutex_);
    return fields_;
}

}  // namespace kv
