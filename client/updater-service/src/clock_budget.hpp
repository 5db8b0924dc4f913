#pragma once
// The rules of "SETTIME": the accepted range, the one-minute spacing and the weekly budget
// kept in a ledger of past adjustments.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monotonic_clock.hpp"
#include "result.hpp"

namespace kv {

inline constexpr std::int64_t earliest_settable_epoch = 1790000000;
inline constexpr std::int64_t latest_settable_epoch = 4102444799;
inline constexpr std::int64_t clock_budget_window_seconds = 604800;
inline constexpr std::int64_t clock_budget_seconds = 259200;

struct LedgerEntry {
    std::int64_t set_time;
    std::int64_t adjustment;  // set_time minus the clock reading just before
    bool operator==(const LedgerEntry&) const = default;
};

// Optional sign, then digits only, within signed 64 bits.
std::optional<std::int64_t> parse_signed_decimal(std::string_view text);

// The request's argument: "SETTIME needs an epoch", "epoch is not a number",
// "epoch {} is out of range".
Result<std::int64_t> parse_settime_epoch(std::optional<std::string_view> argument);

// Malformed pieces are skipped, never an error.
std::vector<LedgerEntry> parse_ledger(std::string_view text);
std::string format_ledger(const std::vector<LedgerEntry>& entries);

// True while the last successful change is less than a minute old.
bool clock_set_too_recently(std::optional<MonotonicTime> last_set, MonotonicTime now);

// The ledger to write before moving the clock from `previous` to `target`: entries of the
// last seven days plus the new one, or the budget error.
Result<std::vector<LedgerEntry>> plan_clock_adjustment(const std::vector<LedgerEntry>& ledger, std::int64_t previous,
                                                       std::int64_t target);

}  // namespace kv
