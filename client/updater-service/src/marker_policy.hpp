#pragma once
// How old a marker may be and when it is invalid: a pure judgement of what was observed.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

enum class MarkerKind { update, installer, relaunch };

std::string_view marker_file_name(MarkerKind kind);
std::chrono::seconds marker_age_cap(MarkerKind kind);

inline constexpr std::chrono::seconds marker_future_tolerance{300};

struct MarkerObservation {
    // Set when reading, parsing or the second metadata look already failed.
    std::optional<std::string> invalid_reason;
    std::chrono::system_clock::time_point now;
    std::chrono::system_clock::time_point modified;
    std::optional<std::uint64_t> created_at;             // relaunch markers only
    std::optional<std::chrono::nanoseconds> watched_for;  // since this process first saw the file
};

struct MarkerVerdict {
    enum class Outcome { valid, invalid, expired } outcome;
    std::string reason;             // invalid only
    std::chrono::nanoseconds age{};  // expired only
};

MarkerVerdict judge_marker(MarkerKind kind, const MarkerObservation& observation);

// The marker file's bytes by its kind's format: why it is invalid ("parse failed: {}",
// "not a JSON object"), and for a relaunch marker its created_at.
struct MarkerContentVerdict {
    std::optional<std::string> invalid_reason;
    std::optional<std::uint64_t> created_at;
};
MarkerContentVerdict judge_marker_content(MarkerKind kind, std::string_view bytes);

// The two log lines that go with a verdict that removes the marker.
std::string invalid_marker_line(MarkerKind kind, std::string_view reason);
std::string expired_marker_line(MarkerKind kind, std::chrono::nanoseconds age);

}  // namespace kv
