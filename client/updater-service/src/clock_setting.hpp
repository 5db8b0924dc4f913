#pragma once
// "SETTIME": moves the system clock within the weekly budget, recording each adjustment in
// the registry before the clock is touched.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

#include "monotonic_clock.hpp"
#include "result.hpp"

namespace kv {

inline constexpr wchar_t clock_ledger_key[] = L"SOFTWARE\\Kestrivon\\ClientUpdater";
inline constexpr wchar_t clock_ledger_value[] = L"SetTimeLedger";

struct ClockSettingDependencies {
    const MonotonicClock* clock = nullptr;
    std::function<std::int64_t()> wall_seconds;                    // the clock reading before a change
    std::function<Status(std::int64_t target)> set_system_clock;  // the one call that moves the clock
};

// The real clock: FILETIME conversion and SetSystemTime, errors with the code in decimal.
Status set_system_clock_to(std::int64_t target);

class ClockSetting {
public:
    explicit ClockSetting(ClockSettingDependencies dependencies) : dependencies_(std::move(dependencies)) {}

    // Returns the clock reading before the change (Unix seconds).
    Result<std::int64_t> set_clock(std::optional<std::string_view> argument);

private:
    ClockSettingDependencies dependencies_;
    std::mutex lock_;
    std::optional<MonotonicTime> last_set_;
};

// The service's one instance, with the real clock.
ClockSetting& service_clock_setting();

}  // namespace kv
