#include "dry_run.hpp"

#include <algorithm>

#include "bundle_layout.hpp"
#include "sha256.hpp"
#include "text.hpp"
#include "update_decisions.hpp"
#include "update_records.hpp"

namespace kv::publish {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

constexpr char client_image[] = "Kestrivon-Client.exe";
constexpr auto settle_time = 2s;
constexpr std::int64_t missing_part_grace_seconds = 30;

fs::path marker_path(const fs::path& updates, MarkerKind kind) { return updates / path_from_utf8(marker_file_name(kind)); }

void record(DryRunReport& report, const std::string& text) {
    report.outcome = "the service would remove the update and record in last-error.txt: " + text;
}

void log_failure(DryRunReport& report, const std::string& text) {
    report.outcome = "the service would remove the update and log: apply check failed: " + text;
}

std::optional<system_clock::time_point> modified_or_none(const fs::path& path) {
    auto modified = modified_time(path);
    if (!modified) return std::nullopt;
    return *modified;
}

// Step 5 of the staged update: the nearest existing level must resolve inside the install folder.
Status check_containment(const fs::path& destination, const std::string& install) {
    fs::path existing = destination;
    while (!path_exists(existing)) {
        if (existing.parent_path() == existing || existing.parent_path().empty()) {
            return fail("no existing ancestor for " + utf8_of(destination));
        }
        existing = existing.parent_path();
    }
    const auto canonical = canonical_text(existing);
    if (!canonical) return fail("canonicalize " + utf8_of(existing) + ": " + canonical.error());
    if (!canonical_lies_within(*canonical, install)) return fail("destination escapes install dir: " + utf8_of(destination));
    return ok();
}

// The service waits while any of these is younger than the settle time; only a note here.
void note_settling(DryRunReport& report, system_clock::time_point now, std::initializer_list<fs::path> files) {
    for (const fs::path& file : files) {
        if (still_settling(now, modified_or_none(file), settle_time)) {
            report.lines.push_back(utf8_of(file.filename()) + " is under 2 s old: the service takes it up once it has settled");
            return;
        }
    }
}

void dry_run_installer(const DryRunInput& input, DryRunReport& report) {
    const fs::path marker = marker_path(input.updates, MarkerKind::installer);
    note_settling(report, input.now, {marker});
    const FileBytes read = read_file_bytes(marker);
    if (!read.ok()) return log_failure(report, "pending installer marker read failed: " + read.error);
    const auto parsed = parse_pending_installer(read.bytes);
    if (!parsed) return log_failure(report, "pending installer marker parse failed: " + parsed.error());
    const PendingInstallerUpdate& update = *parsed;
    if (trim_white_space(update.signature).empty()) return record(report, "pending installer has no signature");

    const auto folder = canonical_text(input.updates / installer_folder);
    if (!folder) return log_failure(report, "installer dir canonicalize failed: " + folder.error());
    const auto installer = canonical_text(path_from_utf8(trim_white_space(update.installer_path)));
    if (!installer) return log_failure(report, "installer canonicalize failed: " + installer.error());
    if (!canonical_lies_within(*installer, *folder)) return record(report, "pending installer path escapes installer dir");
    report.lines.push_back("installer: version " + update.version + ", " + *installer);

    const FileBytes bytes = read_file_bytes(path_from_utf8(*installer));
    if (!bytes.ok()) return log_failure(report, "pending installer read failed: " + bytes.error);
    const std::string digest = sha256_hex(bytes.bytes);
    if (!digest_matches_trimmed(update.sha256, digest)) {
        return record(report, "pending installer checksum mismatch expected=" + update.sha256 + " got=" + digest);
    }
    if (Status verified = verify_with(input.key, bytes.bytes, update.signature); !verified) {
        return record(report, "pending installer signature rejected: " + verified.error());
    }
    report.lines.push_back("installer: checksum good, signature good with " + input.key.description + " (" +
                           std::to_string(bytes.bytes.size()) + " bytes)");
    report.would_apply = true;
    report.outcome = "the service would run installer version " + update.version +
                     ": close the client and the watchdog, start a private copy of it as LocalSystem with " +
                     format_argument_list(installer_arguments(update.args)) +
                     ", then end its own process for the service manager to restart";
}

void dry_run_relaunch(const DryRunInput& input, DryRunReport& report) {
    const auto marker = parse_pending_relaunch(read_file_bytes(marker_path(input.updates, MarkerKind::relaunch)).bytes);
    const std::string version = marker ? marker->version : "?";
    const std::string pid = marker ? std::to_string(marker->installer_pid) : "?";
    report.outcome = "nothing to apply: the service is finishing installer version " + version + " (pid " + pid +
                     ") and starts the client once that installer has ended";
}

// Steps 1 and 2 of the staged update: a part still missing beside the marker.
bool missing_part(const DryRunInput& input, DryRunReport& report, const char* file, const std::string& part) {
    if (path_exists(input.updates / file)) return false;
    const std::string text = "pending update has no " + part + "; rejecting stale update";
    const auto modified = modified_or_none(marker_path(input.updates, MarkerKind::update));
    const auto age = modified ? whole_seconds_age(input.now, *modified) : std::nullopt;
    if (age && *age < missing_part_grace_seconds) {
        report.outcome = std::string("the service would wait up to 30 s for ") + file +
                         ", then remove the update and record in last-error.txt: " + text;
    } else {
        record(report, text);
    }
    return true;
}

// What writing the verified content over the installed file would change.
std::string change_of(const fs::path& destination, const std::string& content, std::size_t& changed) {
    const FileBytes installed = read_file_bytes(destination);
    if (installed.missing) {
        ++changed;
        return "would add it";
    }
    if (installed.ok() && installed.bytes == content) return "would write it again, content unchanged";
    ++changed;
    return "would replace the installed file";
}

void dry_run_staged(const DryRunInput& input, DryRunReport& report) {
    const fs::path& updates = input.updates;
    if (missing_part(input, report, signature_file, "signature") || missing_part(input, report, manifest_file, "manifest")) return;
    note_settling(report, input.now, {marker_path(updates, MarkerKind::update), updates / signature_file});

    const FileBytes manifest = read_file_bytes(updates / manifest_file);
    if (!manifest.ok()) return record(report, "manifest read failed: " + manifest.error);
    const FileBytes signature = read_file_bytes(updates / signature_file);
    if (!signature.ok()) return record(report, "signature read failed: " + signature.error);
    if (utf8_lossy(signature.bytes) != signature.bytes) {
        return record(report, "signature read failed: stream did not contain valid UTF-8");
    }
    if (Status verified = verify_with(input.key, manifest.bytes, signature.bytes); !verified) {
        return record(report, "SIGNATURE REJECTED: " + verified.error());
    }
    report.lines.push_back(std::string(signature_file) + ": signature good with " + input.key.description);
    const auto parsed = parse_app_manifest(manifest.bytes);
    if (!parsed) return record(report, "manifest parse failed: " + parsed.error());
    const AppManifest& update = *parsed;
    report.lines.push_back(std::string(manifest_file) + ": version " + update.version + ", " +
                           std::to_string(update.files.size()) + " file(s)");
    const auto refuse = [&](const std::string& text) { record(report, "update failed: " + text); };
    if (update.files.empty()) return refuse("manifest has no files");

    std::optional<std::string> install;
    if (input.install) {
        auto resolved = canonical_text(*input.install);
        if (!resolved) return refuse("install dir canonicalize: " + resolved.error());
        install = std::move(resolved).value();
        if (!path_exists(path_from_utf8(*install) / client_image)) {
            return refuse(std::string("trusted install dir does not contain ") + client_image + ": " + *install);
        }
    }

    std::size_t written = 0, changed = 0, unchecked = 0;
    for (const ManifestFile& file : update.files) {
        const auto components = safe_relative_components(file.relative_path);
        if (!components) return refuse(components.error());
        const fs::path relative = relative_path_of(*components);
        std::optional<fs::path> destination;
        if (install) {
            destination = path_from_utf8(*install) / relative;
            if (Status contained = check_containment(*destination, *install); !contained) return refuse(contained.error());
        }
        const fs::path source = updates / staging_folder / relative;
        if (!path_exists(source)) {
            if (!destination) {
                ++unchecked;
                report.lines.push_back("  " + file.relative_path + ": not staged; the installed copy must have sha256 " +
                                       file.sha256 + " (give --install to check)");
                continue;
            }
            const FileBytes installed = read_file_bytes(*destination);
            if (!installed.ok()) {
                return refuse("required file " + file.relative_path + " not staged and unreadable: " + installed.error);
            }
            if (!digest_matches_lowercased(file.sha256, sha256_hex(installed.bytes))) {
                return refuse("non-staged file out of date: " + file.relative_path);
            }
            report.lines.push_back("  " + file.relative_path + ": not staged, the installed copy is current: left alone");
            continue;
        }
        const FileBytes staged = read_file_bytes(source);
        if (!staged.ok()) return refuse("read failed for " + utf8_of(source) + ": " + staged.error);
        if (!digest_matches_lowercased(file.sha256, sha256_hex(staged.bytes))) {
            return refuse("checksum mismatch: " + file.relative_path);
        }
        ++written;
        report.lines.push_back("  " + file.relative_path + ": staged, checksum good" +
                               (destination ? "; " + change_of(*destination, staged.bytes, changed) : ""));
    }
    if (unchecked > 0) {
        report.outcome = "cannot tell without --install: " + std::to_string(unchecked) +
                         " listed file(s) are not staged, and the service applies the update only if the installed "
                         "copies match";
        return;
    }
    report.would_apply = true;
    report.outcome = "the service would end " + std::string(client_image) + " and apply version " + update.version +
                     ": write " + std::to_string(written) + " file(s)" +
                     (install ? ", " + std::to_string(changed) + " of them changed" : std::string());
}

}  // namespace

std::string MarkerLook::describe() const {
    const std::string name(marker_file_name(kind));
    if (!present) return name + ": none";
    switch (verdict.outcome) {
        case MarkerVerdict::Outcome::valid:
            return name + ": valid, " + std::to_string(age.count()) + "s old (the service removes it after " +
                   std::to_string(marker_age_cap(kind).count()) + "s)";
        case MarkerVerdict::Outcome::invalid:
            return name + ": the service would delete it and log: " + invalid_marker_line(kind, verdict.reason);
        case MarkerVerdict::Outcome::expired:
            return name + ": the service would delete it and log: " + expired_marker_line(kind, verdict.age);
    }
    return name;
}

MarkerLook look_at_marker(const fs::path& updates, MarkerKind kind, system_clock::time_point now) {
    MarkerLook look{kind};
    const fs::path file = marker_path(updates, kind);
    const FileBytes read = read_file_bytes(file);
    if (read.missing) return look;
    look.present = true;
    MarkerObservation seen;
    seen.now = now;
    if (!read.ok()) {
        seen.invalid_reason = "unreadable: " + read.error;
    } else {
        MarkerContentVerdict content = judge_marker_content(kind, read.bytes);
        seen.invalid_reason = std::move(content.invalid_reason);
        seen.created_at = content.created_at;
    }
    if (!seen.invalid_reason) {
        if (const auto modified = modified_time(file)) {
            seen.modified = *modified;
        } else {
            seen.invalid_reason = "metadata unreadable: " + modified.error();
        }
    }
    look.verdict = judge_marker(kind, seen);
    if (look.verdict.outcome == MarkerVerdict::Outcome::valid) {
        auto age = seen.modified < now ? duration_cast<seconds>(now - seen.modified) : 0s;
        const auto now_unix = duration_cast<seconds>(now.time_since_epoch()).count();
        if (seen.created_at && now_unix > 0 && static_cast<std::uint64_t>(now_unix) > *seen.created_at) {
            age = std::max(age, seconds(static_cast<std::int64_t>(static_cast<std::uint64_t>(now_unix) - *seen.created_at)));
        }
        look.age = age;
    }
    return look;
}

DryRunReport dry_run_apply_check(const DryRunInput& input) {
    DryRunReport report;
    report.lines.push_back("updates folder: " + utf8_of(input.updates));
    // The service's order: an installer first, then the relaunch after one, then a staged update.
    for (const MarkerKind kind : {MarkerKind::installer, MarkerKind::relaunch, MarkerKind::update}) {
        const MarkerLook look = look_at_marker(input.updates, kind, input.now);
        report.lines.push_back(look.describe());
        if (!look.present || look.verdict.outcome != MarkerVerdict::Outcome::valid) continue;
        switch (kind) {
            case MarkerKind::installer: dry_run_installer(input, report); break;
            case MarkerKind::relaunch: dry_run_relaunch(input, report); break;
            case MarkerKind::update: dry_run_staged(input, report); break;
        }
        return report;
    }
    report.outcome = "nothing to apply: no valid marker is pending";
    return report;
}

}  // namespace kv::publish
