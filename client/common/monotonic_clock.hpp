#pragma once
// Intervals and time-outs run on a monotonic clock; tests hand in a clock they move themselves.
#include <chrono>

namespace kv {

using MonotonicTime = std::chrono::steady_clock::time_point;

class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual MonotonicTime now() const = 0;
};

class SteadyClock final : public MonotonicClock {
public:
    MonotonicTime now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace kv
