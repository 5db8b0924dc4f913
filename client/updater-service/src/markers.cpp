#include "markers.hpp"

#include <windows.h>

#include <chrono>

#include "file_io.hpp"
#include "link_safe_files.hpp"
#include "log_line.hpp"
#include "update_records.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {

namespace {

std::size_t index_of(MarkerKind kind) { return static_cast<std::size_t>(kind); }

std::filesystem::path marker_path(const UpdateEnvironment& environment, MarkerKind kind) {
    return environment.updates / widen(marker_file_name(kind));
}

// Reads and parses the marker; an invalid reason, or the relaunch marker's created_at.
struct MarkerContent {
    bool missing = false;
    std::optional<std::string> invalid_reason;
    std::optional<std::uint64_t> created_at;
};

MarkerContent read_marker(const std::filesystem::path& file, MarkerKind kind) {
    MarkerContent content;
    const FileRead read = read_whole_file(file);
    if (read.missing()) {
        content.missing = true;
        return content;
    }
    if (!read.ok()) {
        content.invalid_reason = "unreadable: " + system_error_text(read.error);
        return content;
    }
    switch (kind) {
        case MarkerKind::update:
            if (Status parsed = check_pending_update_content(read.bytes); !parsed) {
                content.invalid_reason =
                    parsed.error() == "not a JSON object" ? parsed.error() : "parse failed: " + parsed.error();
            }
            break;
        case MarkerKind::installer:
            if (auto parsed = parse_pending_installer(read.bytes); !parsed) {
                content.invalid_reason = "parse failed: " + parsed.error();
            }
            break;
        case MarkerKind::relaunch:
            if (auto parsed = parse_pending_relaunch(read.bytes); !parsed) {
                content.invalid_reason = "parse failed: " + parsed.error();
            } else {
                content.created_at = parsed->created_at;
            }
            break;
    }
    return content;
}

}  // namespace

MonotonicTime MarkerFirstSeen::note_present(MarkerKind kind, MonotonicTime now) {
    std::lock_guard lock(mutex_);
    auto& entry = entries_[index_of(kind)];
    if (!entry) entry = now;
    return *entry;
}

void MarkerFirstSeen::clear(MarkerKind kind) {
    std::lock_guard lock(mutex_);
    entries_[index_of(kind)].reset();
}

std::optional<MonotonicTime> MarkerFirstSeen::get(MarkerKind kind) const {
    std::lock_guard lock(mutex_);
    return entries_[index_of(kind)];
}

bool check_marker(const UpdateEnvironment& environment, MarkerKind kind) {
    const std::filesystem::path file = marker_path(environment, kind);
    if (file_modified_time(file)) {
        environment.first_seen->note_present(kind, environment.clock->now());
    } else {
        environment.first_seen->clear(kind);
    }

    const MarkerContent content = read_marker(file, kind);
    if (content.missing) return false;

    MarkerObservation seen;
    seen.invalid_reason = content.invalid_reason;
    seen.created_at = content.created_at;
    seen.now = std::chrono::system_clock::now();
    if (!seen.invalid_reason) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
            seen.invalid_reason = "metadata unreadable: " + last_error_text();
        } else {
            seen.modified = from_file_time(data.ftLastWriteTime);
        }
    }
    if (const auto first = environment.first_seen->get(kind)) seen.watched_for = environment.clock->now() - *first;

    const MarkerVerdict verdict = judge_marker(kind, seen);
    switch (verdict.outcome) {
        case MarkerVerdict::Outcome::valid:
            return true;
        case MarkerVerdict::Outcome::invalid:
            environment.log(invalid_marker_line(kind, verdict.reason));
            break;
        case MarkerVerdict::Outcome::expired:
            environment.log(expired_marker_line(kind, verdict.age));
            break;
    }
    delete_file_quietly(file);
    environment.first_seen->clear(kind);
    return false;
}

bool any_update_pending(const UpdateEnvironment& environment) {
    // Nothing below a linked folder is ours to judge or delete; the apply check reports it.
    if (!refuse_linked_update_folders(environment)) return false;
    return check_marker(environment, MarkerKind::update) || check_marker(environment, MarkerKind::installer) ||
           check_marker(environment, MarkerKind::relaunch);
}

Status write_relaunch_marker(const UpdateEnvironment& environment, std::string_view version, std::uint32_t installer_pid,
                             std::uint64_t installer_start_time, std::string_view installer_image) {
    const std::uint64_t now = unix_seconds(std::chrono::system_clock::now());
    const PendingRelaunch marker{std::string(version), std::string(installer_image), now, installer_start_time, installer_pid};
    const std::filesystem::path target = marker_path(environment, MarkerKind::relaunch);

    if (Status created = create_folders(target.parent_path()); !created) {
        return fail("pending relaunch dir create failed: " + created.error());
    }

    const std::filesystem::path temporary =
        environment.updates / widen("pending-relaunch-" + std::to_string(GetCurrentProcessId()) + "-" +
                                    std::to_string(installer_pid) + "-" + std::to_string(now) + ".json");
    const std::string text = serialize_pending_relaunch(marker);
    if (Status written = write_file_no_follow(temporary, text); !written) {
        return fail("pending relaunch marker temp write failed: " + written.error());
    }
    if (Status published = rename_file_no_follow(temporary, target); !published) {
        delete_file_quietly(temporary);
        return fail("pending relaunch marker publish failed: " + published.error());
    }
    return ok();
}

}  // namespace kv
