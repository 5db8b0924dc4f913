#include "update_decisions.hpp"

#include "text.hpp"

namespace kv {

using namespace std::chrono;

Result<std::vector<std::string>> safe_relative_components(std::string_view relative_path) {
    const auto unsafe = [&] { return fail("unsafe relative path: " + std::string(relative_path)); };
    if (relative_path.empty() || relative_path.front() == '/' || relative_path.front() == '\\') return unsafe();
    // A colon names a drive or an alternate data stream; a NUL would cut the path short.
    if (relative_path.find(':') != std::string_view::npos || relative_path.find('\0') != std::string_view::npos) {
        return unsafe();
    }
    std::vector<std::string> components;
    std::string current;
    const auto finish = [&]() -> bool {
        if (current == "..") return false;
        if (!current.empty() && current != ".") components.push_back(current);
        current.clear();
        return true;
    };
    for (const char c : relative_path) {
        if (c == '/' || c == '\\') {
            if (!finish()) return unsafe();
        } else {
            current.push_back(c);
        }
    }
    if (!finish()) return unsafe();
    return components;
}

bool digest_matches_lowercased(std::string_view expected, std::string_view computed_hex) {
    return ascii_lower(expected) == computed_hex;
}

std::string_view trim_white_space(std::string_view text) {
    const auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

bool digest_matches_trimmed(std::string_view expected, std::string_view computed_hex) {
    return equals_ignoring_ascii_case(trim_white_space(expected), computed_hex);
}

std::optional<std::int64_t> whole_seconds_age(system_clock::time_point now, system_clock::time_point modified) {
    if (modified > now) return std::nullopt;
    return duration_cast<seconds>(now - modified).count();
}

bool still_settling(system_clock::time_point now, std::optional<system_clock::time_point> modified, seconds limit) {
    if (!modified || *modified > now) return false;
    return now - *modified < limit;
}

bool path_lies_within(std::string_view path, std::string_view folder) {
    while (!folder.empty() && folder.back() == '\\') folder.remove_suffix(1);
    if (!path.starts_with(folder)) return false;
    return path.size() == folder.size() || path[folder.size()] == '\\';
}

bool is_private_installer_folder_name(std::string_view name) {
    constexpr std::string_view prefix = "Kestrivon-installer-";
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
    for (const char c : name.substr(prefix.size())) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!allowed) return false;
    }
    return true;
}

std::vector<std::string> installer_arguments(const std::vector<std::string>& marker_args) {
    if (marker_args.empty()) return {"/S"};
    return marker_args;
}

std::string format_argument_list(const std::vector<std::string>& arguments) {
    std::string text = "[";
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += ", ";
        text += '"';
        for (const char c : arguments[i]) {
            if (c == '\\' || c == '"') text += '\\';
            text += c;
        }
        text += '"';
    }
    return text + "]";
}

RelaunchDecision decide_relaunch(const PendingRelaunch& marker, const InstallerProcessView& process,
                                 std::string_view installer_folder) {
    using Outcome = RelaunchDecision::Outcome;
    if (!process.opened) return {Outcome::relaunch, {}};
    if (!process.exit_code || *process.exit_code != still_active_exit_code) return {Outcome::relaunch, {}};
    if (marker.is_legacy()) {
        if (!process.image) return {Outcome::foreign, "legacy marker, image unreadable"};
        if (process.image->starts_with(installer_folder)) return {Outcome::wait, {}};
        return {Outcome::foreign, "legacy marker, image " + *process.image + " outside installer dir"};
    }
    if (!process.creation_time) return {Outcome::foreign, "creation time unreadable"};
    if (*process.creation_time != marker.installer_start_time) {
        return {Outcome::foreign, "creation time " + std::to_string(*process.creation_time) + " != recorded " +
                                      std::to_string(marker.installer_start_time)};
    }
    if (!process.image) return {Outcome::foreign, "image unreadable"};
    if (*process.image == marker.installer_image) return {Outcome::wait, {}};
    return {Outcome::foreign, "image " + *process.image + " != recorded " + marker.installer_image};
}

RelaunchDecision decide_unconfirmed_relaunch(std::optional<std::int64_t> marker_age_seconds) {
    if (marker_age_seconds && *marker_age_seconds < 30) return {RelaunchDecision::Outcome::wait, {}};
    return {RelaunchDecision::Outcome::relaunch, {}};
}

}  // namespace kv
