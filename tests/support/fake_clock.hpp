#pragma once
#include <chrono>

#include "monotonic_clock.hpp"

namespace kv::testing {

// A monotonic clock that only moves when the test says so.
class FakeClock final : public MonotonicClock {
public:
    MonotonicTime now() const override { return now_; }
    void advance(std::chrono::milliseconds step) { now_ += step; }

private:
    MonotonicTime now_ = MonotonicTime(std::chrono::hours(1000));
};

}  // namespace kv::testing
