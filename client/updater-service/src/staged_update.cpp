#include "staged_update.hpp"

#include <windows.h>

#include <chrono>
#include <string>
#include <variant>

#include "canonical_path.hpp"
#include "file_io.hpp"
#include "file_replacement.hpp"
#include "link_safe_files.hpp"
#include "log_line.hpp"
#include "minisign.hpp"
#include "process_utilities.hpp"
#include "replace_recovery.hpp"
#include "sha256.hpp"
#include "text.hpp"
#include "update_decisions.hpp"
#include "win_error.hpp"
#include "win32_replace_file_system.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t manifest_name[] = L"manifest.json";
constexpr wchar_t signature_name[] = L"manifest.json.sig";
constexpr wchar_t marker_name[] = L"pending-update.json";
constexpr char client_image[] = "Kestrivon-Client.exe";
constexpr auto settle_time = 2s;
constexpr auto missing_part_grace = 30s;

std::string text_of(const std::filesystem::path& path) { return narrow(path.wstring()); }

// A part missing beside a marker younger than the grace is waited for; otherwise the
// whole update is rejected.
std::optional<Status> reject_if_stale(const UpdateEnvironment& environment, const std::string& part) {
    const auto modified = file_modified_time(environment.updates / marker_name);
    if (modified) {
        const auto age = whole_seconds_age(std::chrono::system_clock::now(), *modified);
        if (age && *age < missing_part_grace.count()) return std::nullopt;
    }
    environment.record("pending update has no " + part + "; rejecting stale update");
    clear_pending_update(environment.updates);
    return Status(fail("pending update has no " + part));
}

Result<std::filesystem::path> nearest_existing_ancestor(const std::filesystem::path& destination) {
    for (std::filesystem::path candidate = destination;; candidate = candidate.parent_path()) {
        if (path_exists(candidate)) return candidate;
        if (candidate.parent_path() == candidate || candidate.parent_path().empty()) break;
    }
    return fail("no existing ancestor for " + text_of(destination));
}

Status check_containment(const std::filesystem::path& destination, const std::filesystem::path& install) {
    auto ancestor = nearest_existing_ancestor(destination);
    if (!ancestor) return fail(ancestor.error());
    const auto canonical = canonicalize_path(*ancestor);
    if (!canonical) return fail("canonicalize " + text_of(*ancestor) + ": " + canonical.error());
    if (!path_lies_within(text_of(*canonical), text_of(install))) {
        return fail("destination escapes install dir: " + text_of(destination));
    }
    return ok();
}

Result<std::vector<PlannedFile>> plan_update(const std::vector<ManifestFile>& files, const std::filesystem::path& install,
                                           const std::filesystem::path& staging) {
    std::vector<PlannedFile> plan;
    for (const ManifestFile& file : files) {
        const auto components = safe_relative_components(file.relative_path);
        if (!components) return fail(components.error());
        std::filesystem::path relative;
        for (const auto& component : *components) relative /= widen(component);
        const std::filesystem::path destination = install / relative;
        if (Status contained = check_containment(destination, install); !contained) return fail(contained.error());

        const std::filesystem::path source = staging / relative;
        if (!path_exists(source)) {
            const FileRead installed = read_whole_file(destination);
            if (!installed.ok()) {
                return fail("required file " + file.relative_path + " not staged and unreadable: " +
                            system_error_text(installed.error));
            }
            if (digest_matches_lowercased(file.sha256, sha256_hex(installed.bytes))) continue;
            return fail("non-staged file out of date: " + file.relative_path);
        }
        FileRead staged = read_whole_file(source);
        if (!staged.ok()) return fail("read failed for " + text_of(source) + ": " + system_error_text(staged.error));
        if (!digest_matches_lowercased(file.sha256, sha256_hex(staged.bytes))) {
            return fail("checksum mismatch: " + file.relative_path);
        }
        plan.push_back({std::move(staged.bytes), destination});
    }
    return plan;
}

}  // namespace

std::variant<AppManifest, ManifestRejection> load_verified_manifest(const std::filesystem::path& updates) {
    const auto both = [](std::string text) { return ManifestRejection{text, text}; };
    const FileRead manifest = read_whole_file(updates / manifest_name);
    if (!manifest.ok()) return both("manifest read failed: " + system_error_text(manifest.error));
    const FileRead signature = read_whole_file(updates / signature_name);
    if (!signature.ok()) return both("signature read failed: " + system_error_text(signature.error));
    if (utf8_lossy(signature.bytes) != signature.bytes) {
        return both("signature read failed: stream did not contain valid UTF-8");
    }
    if (Status verified = verify_update_signature(manifest.bytes, signature.bytes); !verified) {
        return ManifestRejection{"SIGNATURE REJECTED: " + verified.error(), "signature rejected: " + verified.error()};
    }
    // Parsed only after verification, from exactly the bytes that were verified.
    auto parsed = parse_app_manifest(manifest.bytes);
    if (!parsed) return both("manifest parse failed: " + parsed.error());
    return std::move(parsed).value();
}

Status apply_staged_update(const UpdateEnvironment& environment, const std::vector<ManifestFile>& files) {
    if (files.empty()) return fail("manifest has no files");
    const auto install = environment.install_dir();
    if (!install) return fail(install.error());
    // A replace cut short by a crash could have left the client missing, which would refuse
    // this update and every later one.
    recover_interrupted_replace(*install, environment.log);
    if (!path_exists(*install / client_image)) {
        return fail(std::string("trusted install dir does not contain ") + client_image + ": " + text_of(*install));
    }
    const auto plan = plan_update(files, *install, environment.updates / L"staging");
    if (!plan) return fail(plan.error());
    Win32ReplaceFileSystem disk;
    return replace_planned_files(
        *plan, disk, [] { return unix_seconds(std::chrono::system_clock::now()); }, GetCurrentProcessId());
}

void clear_pending_update(const std::filesystem::path& updates) {
    delete_file_quietly(updates / signature_name);
    delete_file_quietly(updates / manifest_name);
    delete_file_quietly(updates / marker_name);
    delete_tree_quietly(updates / L"staging");
}

Status run_staged_update(const UpdateEnvironment& environment) {
    const std::filesystem::path& updates = environment.updates;
    if (!path_exists(updates / signature_name)) {
        if (auto rejected = reject_if_stale(environment, "signature")) return *rejected;
        return ok();
    }
    if (!path_exists(updates / manifest_name)) {
        if (auto rejected = reject_if_stale(environment, "manifest")) return *rejected;
        return ok();
    }
    const auto now = std::chrono::system_clock::now();
    if (still_settling(now, file_modified_time(updates / marker_name), settle_time)) return ok();
    if (still_settling(now, file_modified_time(updates / signature_name), settle_time)) return ok();

    auto loaded = load_verified_manifest(updates);
    if (auto* rejection = std::get_if<ManifestRejection>(&loaded)) {
        environment.record(rejection->recorded);
        clear_pending_update(updates);
        return fail(rejection->returned);
    }
    const AppManifest& manifest = std::get<AppManifest>(loaded);

    kill_image(client_image);
    if (Status applied = apply_staged_update(environment, manifest.files); !applied) {
        environment.record("update failed: " + applied.error());
        clear_pending_update(updates);
        return applied;
    }
    environment.log("update applied (signed): " + manifest.version);
    clear_pending_update(updates);
    return ok();
}

}  // namespace kv
