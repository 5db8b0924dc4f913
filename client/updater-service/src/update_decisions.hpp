#pragma once
// Pure rules of the update engine: path safety, digests, settle times, the relaunch
// decision after an installer, and the names it may clean up.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"
#include "update_records.hpp"

namespace kv {

// Components of a manifest's relative path ("/" and "\" both separate). Fails with
// "unsafe relative path: {}" for an empty path, a root, a drive, a colon anywhere, a NUL
// or a ".." component. "." and empty components are dropped.
Result<std::vector<std::string>> safe_relative_components(std::string_view relative_path);

// An expected digest matches when, lower-cased, it equals the computed one exactly.
bool digest_matches_lowercased(std::string_view expected, std::string_view computed_hex);
// Trimmed of white space and compared ignoring ASCII case.
bool digest_matches_trimmed(std::string_view expected, std::string_view computed_hex);

std::string_view trim_white_space(std::string_view text);

// Age of a file in whole seconds, or nothing when its time lies in the future.
std::optional<std::int64_t> whole_seconds_age(std::chrono::system_clock::time_point now,
                                              std::chrono::system_clock::time_point modified);

// True while a file younger than `limit` should be left to settle.
bool still_settling(std::chrono::system_clock::time_point now, std::optional<std::chrono::system_clock::time_point> modified,
                    std::chrono::seconds limit);

// Component-wise prefix test of two canonical paths (separator "\").
bool path_lies_within(std::string_view path, std::string_view folder);

// "Kestrivon-installer-" followed by one or more ASCII letters, digits or dashes.
bool is_private_installer_folder_name(std::string_view name);

// The marker's arguments, or the single "/S" when it gives none.
std::vector<std::string> installer_arguments(const std::vector<std::string>& marker_args);

// ["a", "b \"c\""]: the argument list as the launch log line shows it.
std::string format_argument_list(const std::vector<std::string>& arguments);

// What the relaunch branch saw of the process the marker names.
struct InstallerProcessView {
    bool opened = false;
    std::optional<std::uint32_t> exit_code;  // 259 while it runs
    std::optional<std::string> image;        // without \\?\, absent when unreadable or empty
    std::optional<std::uint64_t> creation_time;
};

struct RelaunchDecision {
    enum class Outcome { wait, relaunch, foreign } outcome;
    std::string reason;  // foreign only
};

inline constexpr std::uint32_t still_active_exit_code = 259;

// Steps for a marker whose installer_pid is not 0. `installer_folder` is the installer
// folder as text, without \\?\.
RelaunchDecision decide_relaunch(const PendingRelaunch& marker, const InstallerProcessView& process,
                                 std::string_view installer_folder);

// For installer_pid 0: wait while the marker is younger than 30 s (by a readable, past
// last-write time), else relaunch.
RelaunchDecision decide_unconfirmed_relaunch(std::optional<std::int64_t> marker_age_seconds);

}  // namespace kv
