#include "marker_policy.hpp"

#include <algorithm>
#include <limits>

#include "update_records.hpp"

namespace kv {

using namespace std::chrono;

std::string_view marker_file_name(MarkerKind kind) {
    switch (kind) {
        case MarkerKind::update: return "pending-update.json";
        case MarkerKind::installer: return "pending-installer.json";
        case MarkerKind::relaunch: return "pending-relaunch.json";
    }
    return {};
}

seconds marker_age_cap(MarkerKind kind) { return kind == MarkerKind::relaunch ? seconds(1800) : seconds(900); }

MarkerVerdict judge_marker(MarkerKind kind, const MarkerObservation& seen) {
    if (seen.invalid_reason) return {MarkerVerdict::Outcome::invalid, *seen.invalid_reason, {}};

    nanoseconds age{0};
    if (seen.modified > seen.now) {
        if (seen.modified - seen.now > marker_future_tolerance) {
            return {MarkerVerdict::Outcome::invalid, "modified time is in the future", {}};
        }
    } else {
        age = duration_cast<nanoseconds>(seen.now - seen.modified);
    }

    if (kind == MarkerKind::relaunch && seen.created_at) {
        const auto now_seconds = duration_cast<seconds>(seen.now.time_since_epoch()).count();
        const std::uint64_t now_unix = now_seconds < 0 ? 0 : static_cast<std::uint64_t>(now_seconds);
        const std::uint64_t tolerance = static_cast<std::uint64_t>(marker_future_tolerance.count());
        const std::uint64_t latest_allowed =
            now_unix > std::numeric_limits<std::uint64_t>::max() - tolerance ? std::numeric_limits<std::uint64_t>::max()
                                                                             : now_unix + tolerance;
        if (*seen.created_at > latest_allowed) return {MarkerVerdict::Outcome::invalid, "created_at is in the future", {}};
        const std::uint64_t created_age = now_unix > *seen.created_at ? now_unix - *seen.created_at : 0;
        // Clamp before converting so an absurd claim cannot overflow the nanosecond count.
        const std::uint64_t clamped = std::min<std::uint64_t>(created_age, 100ull * 365 * 24 * 3600);
        age = std::max<nanoseconds>(age, seconds(clamped));
    }

    if (seen.watched_for) age = std::max(age, *seen.watched_for);

    if (age > marker_age_cap(kind)) return {MarkerVerdict::Outcome::expired, {}, age};
    return {MarkerVerdict::Outcome::valid, {}, {}};
}

MarkerContentVerdict judge_marker_content(MarkerKind kind, std::string_view bytes) {
    MarkerContentVerdict content;
    switch (kind) {
        case MarkerKind::update:
            if (Status parsed = check_pending_update_content(bytes); !parsed) {
                content.invalid_reason =
                    parsed.error() == "not a JSON object" ? parsed.error() : "parse failed: " + parsed.error();
            }
            break;
        case MarkerKind::installer:
            if (auto parsed = parse_pending_installer(bytes); !parsed) content.invalid_reason = "parse failed: " + parsed.error();
            break;
        case MarkerKind::relaunch:
            if (auto parsed = parse_pending_relaunch(bytes); !parsed) {
                content.invalid_reason = "parse failed: " + parsed.error();
            } else {
                content.created_at = parsed->created_at;
            }
            break;
    }
    return content;
}

std::string invalid_marker_line(MarkerKind kind, std::string_view reason) {
    return "ignoring invalid " + std::string(marker_file_name(kind)) + " marker (" + std::string(reason) +
           "); removing it";
}

std::string expired_marker_line(MarkerKind kind, nanoseconds age) {
    return "ignoring expired " + std::string(marker_file_name(kind)) + " marker (age " +
           std::to_string(duration_cast<seconds>(age).count()) + "s, cap " +
           std::to_string(marker_age_cap(kind).count()) + "s); removing it";
}

}  // namespace kv
