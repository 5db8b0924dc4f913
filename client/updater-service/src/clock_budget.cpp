#include "clock_budget.hpp"

#include <chrono>
#include <limits>

#include "update_decisions.hpp"

namespace kv {

std::optional<std::int64_t> parse_signed_decimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulated as a negative number so the most negative value fits too.
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == std::numeric_limits<std::int64_t>::min()) return std::nullopt;
    return -value;
}

Result<std::int64_t> parse_settime_epoch(std::optional<std::string_view> argument) {
    if (!argument) return fail("SETTIME needs an epoch");
    const auto epoch = parse_signed_decimal(*argument);
    if (!epoch) return fail("epoch is not a number");
    if (*epoch < earliest_settable_epoch || *epoch > latest_settable_epoch) {
        return fail("epoch " + std::to_string(*epoch) + " is out of range");
    }
    return *epoch;
}

std::vector<LedgerEntry> parse_ledger(std::string_view text) {
    std::vector<LedgerEntry> entries;
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        const size_t colon = piece.find(':');
        if (colon != std::string_view::npos) {
            const auto set_time = parse_signed_decimal(trim_white_space(piece.substr(0, colon)));
            const auto adjustment = parse_signed_decimal(trim_white_space(piece.substr(colon + 1)));
            if (set_time && adjustment) entries.push_back({*set_time, *adjustment});
        }
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return entries;
}

std::string format_ledger(const std::vector<LedgerEntry>& entries) {
    std::string text;
    for (const auto& entry : entries) {
        if (!text.empty()) text += ',';
        text += std::to_string(entry.set_time) + ":" + std::to_string(entry.adjustment);
    }
    return text;
}

bool clock_set_too_recently(std::optional<MonotonicTime> last_set, MonotonicTime now) {
    return last_set && std::chrono::duration_cast<std::chrono::seconds>(now - *last_set).count() < 60;
}

namespace {

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) return std::numeric_limits<std::int64_t>::max();
    return a + b;
}

std::int64_t saturating_abs(std::int64_t value) {
    if (value == std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::max();
    return value < 0 ? -value : value;
}

}  // namespace

Result<std::vector<LedgerEntry>> plan_clock_adjustment(const std::vector<LedgerEntry>& ledger, std::int64_t previous,
                                                       std::int64_t target) {
    std::vector<LedgerEntry> kept;
    const std::int64_t window_start = previous - clock_budget_window_seconds;
    std::int64_t used = 0;
    for (const auto& entry : ledger) {
        if (entry.set_time > window_start) {
            kept.push_back(entry);
            used = saturating_add(used, saturating_abs(entry.adjustment));
        }
    }
    const std::int64_t delta = target - previous;
    if (saturating_add(used, saturating_abs(delta)) > clock_budget_seconds) {
        return fail("clock adjustment budget used up (" + std::to_string(used) + " s of " +
                    std::to_string(clock_budget_seconds) + " s this week, asked for " + std::to_string(delta) + " s)");
    }
    kept.push_back({target, delta});
    return kept;
}

}  // namespace kv
