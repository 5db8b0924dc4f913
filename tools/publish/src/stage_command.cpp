// On the station: a checked bundle written into the updates folder in the order the service
// expects (payload, manifest, signature, marker last), each file renamed into place whole.
#include <system_error>

#include "bundle_layout.hpp"
#include "marker_policy.hpp"
#include "publish_commands.hpp"
#include "sha256.hpp"
#include "signing_key.hpp"
#include "text.hpp"
#include "update_decisions.hpp"

namespace kv::publish {
namespace {

struct StagedFile {
    fs::path relative;
    std::string bytes;
};

struct CheckedFilesBundle {
    AppManifest manifest;
    std::string manifest_bytes;
    std::string signature;
    std::vector<StagedFile> staged;
    std::size_t not_staged = 0;
};

struct CheckedInstallerBundle {
    InstallerBundle description;
    std::string installer_bytes;
    std::string digest;
    std::string signature;
};

Result<std::string> read_signature_text(const fs::path& file) {
    FileBytes read = read_file_bytes(file);
    if (!read.ok()) return fail("cannot read " + utf8_of(file) + ": " + read.error);
    if (utf8_lossy(read.bytes) != read.bytes) return fail(utf8_of(file) + " is not valid UTF-8 text");
    return std::move(read.bytes);
}

// The service's own checks on the bundle's bytes, before anything is written.
Result<CheckedFilesBundle> check_files_bundle(const fs::path& bundle, const SigningKey& key) {
    CheckedFilesBundle checked;
    FileBytes manifest = read_file_bytes(bundle / manifest_file);
    if (!manifest.ok()) return fail("cannot read " + utf8_of(bundle / manifest_file) + ": " + manifest.error);
    checked.manifest_bytes = std::move(manifest.bytes);
    auto signature = read_signature_text(bundle / signature_file);
    if (!signature) return fail(signature.error());
    checked.signature = std::move(signature).value();
    if (Status verified = verify_with(key, checked.manifest_bytes, checked.signature); !verified) {
        return fail("the bundle's signature does not verify with " + key.description +
                    "; the service would record: SIGNATURE REJECTED: " + verified.error());
    }
    auto parsed = parse_app_manifest(checked.manifest_bytes);
    if (!parsed) return fail("manifest parse failed: " + parsed.error());
    checked.manifest = std::move(parsed).value();
    if (checked.manifest.files.empty()) return fail("manifest has no files");
    for (const ManifestFile& file : checked.manifest.files) {
        const auto components = safe_relative_components(file.relative_path);
        if (!components) return fail(components.error());
        const fs::path relative = relative_path_of(*components);
        const fs::path source = bundle / staging_folder / relative;
        if (!path_exists(source)) {
            // The service then needs the installed copy to match; verify --install tells.
            ++checked.not_staged;
            continue;
        }
        FileBytes read = read_file_bytes(source);
        if (!read.ok()) return fail("read failed for " + utf8_of(source) + ": " + read.error);
        if (!digest_matches_lowercased(file.sha256, sha256_hex(read.bytes))) return fail("checksum mismatch: " + file.relative_path);
        checked.staged.push_back({relative, std::move(read.bytes)});
    }
    return checked;
}

Result<CheckedInstallerBundle> check_installer_bundle(const fs::path& bundle, const SigningKey& key) {
    CheckedInstallerBundle checked;
    const FileBytes description = read_file_bytes(bundle / installer_description_file);
    if (!description.ok()) return fail("cannot read " + utf8_of(bundle / installer_description_file) + ": " + description.error);
    auto parsed = parse_installer_bundle(description.bytes);
    if (!parsed) return fail(std::string(installer_description_file) + " parse failed: " + parsed.error());
    checked.description = std::move(parsed).value();
    if (Status named = check_installer_file_name(checked.description.installer); !named) return fail(named.error());
    if (Status label = check_version_label(checked.description.version); !label) return fail(label.error());
    const fs::path installer = bundle / installer_folder / path_from_utf8(checked.description.installer);
    FileBytes read = read_file_bytes(installer);
    if (!read.ok()) return fail("cannot read installer " + utf8_of(installer) + ": " + read.error);
    checked.installer_bytes = std::move(read.bytes);
    checked.digest = sha256_hex(checked.installer_bytes);
    if (!digest_matches_trimmed(checked.description.sha256, checked.digest)) {
        return fail("pending installer checksum mismatch expected=" + checked.description.sha256 + " got=" + checked.digest);
    }
    auto signature = read_signature_text(bundle / installer_signature_file);
    if (!signature) return fail(signature.error());
    checked.signature = std::move(signature).value();
    if (trim_white_space(checked.signature).empty()) return fail("pending installer has no signature");
    if (Status verified = verify_with(key, checked.installer_bytes, checked.signature); !verified) {
        return fail("the bundle's signature does not verify with " + key.description +
                    "; the service would record: pending installer signature rejected: " + verified.error());
    }
    return checked;
}

// What an earlier update left in the updates folder, markers first so the service never
// takes up a half-removed update.
const std::vector<std::string>& pending_entries() {
    static const std::vector<std::string> entries = {std::string(marker_file_name(MarkerKind::update)),
                                                     std::string(marker_file_name(MarkerKind::installer)), signature_file,
                                                     manifest_file, staging_folder};
    return entries;
}

Status make_room(const fs::path& updates, bool replace, std::ostream& out) {
    // Written through, a link would carry the update (as an administrator) somewhere else.
    for (const fs::path& folder : {updates, updates / installer_folder}) {
        if (is_link(folder)) return refuse_links(folder);
    }
    if (path_exists(updates / path_from_utf8(marker_file_name(MarkerKind::relaunch)))) {
        return fail("the service is still finishing an installer update (pending-relaunch.json is present in " +
                    utf8_of(updates) + "); stage again once it is gone");
    }
    std::vector<std::string> found;
    for (const std::string& name : pending_entries()) {
        if (path_exists(updates / path_from_utf8(name))) found.push_back(name);
    }
    if (found.empty()) return ok();
    std::string listed;
    for (const std::string& name : found) listed += (listed.empty() ? "" : ", ") + name;
    if (!replace) {
        return fail("an update is already pending in " + utf8_of(updates) + " (" + listed +
                    "); stage with --replace to replace it");
    }
    for (const std::string& name : found) {
        if (Status clean = refuse_links(updates / path_from_utf8(name)); !clean) return clean;
    }
    for (const std::string& name : found) {
        if (Status removed = remove_tree(updates / path_from_utf8(name)); !removed) return removed;
    }
    out << "replaced the pending update (" << listed << ")\n";
    return ok();
}

Status write_into(const fs::path& target, std::string_view bytes) {
    if (Status made = create_folders(target.parent_path()); !made) return made;
    return write_file_durably(target, bytes);
}

Status stage_files(const CheckedFilesBundle& bundle, const fs::path& updates, std::ostream& out) {
    for (const StagedFile& file : bundle.staged) {
        if (Status written = write_into(updates / staging_folder / file.relative, file.bytes); !written) return written;
    }
    if (Status written = write_into(updates / manifest_file, bundle.manifest_bytes); !written) return written;
    if (Status written = write_into(updates / signature_file, bundle.signature); !written) return written;
    // Written here and now, so its file time is this station's present.
    if (Status written = write_into(updates / path_from_utf8(marker_file_name(MarkerKind::update)), "{}\n"); !written) {
        return written;
    }
    out << "staged version " << bundle.manifest.version << " in " << utf8_of(updates) << ": " << bundle.staged.size()
        << " file(s)";
    if (bundle.not_staged > 0) out << ", " << bundle.not_staged << " listed file(s) must already be installed as listed";
    out << "\nthe service takes it up within a few seconds; its outcome is in the service log\n";
    return ok();
}

Status stage_installer(const CheckedInstallerBundle& bundle, const fs::path& updates, std::ostream& out) {
    const fs::path installer = updates / installer_folder / path_from_utf8(bundle.description.installer);
    if (Status written = write_into(installer, bundle.installer_bytes); !written) return written;
    const auto resolved = canonical_text(installer);
    if (!resolved) return fail("cannot resolve " + utf8_of(installer) + ": " + resolved.error());
    // Written as an operator reads it; the service resolves it again either way.
    const std::string_view extended_prefix = "\\\\?\\";
    const std::string installer_path =
        resolved->starts_with(extended_prefix) ? resolved->substr(extended_prefix.size()) : *resolved;

    const PendingInstallerUpdate marker{bundle.description.version, installer_path, bundle.digest, bundle.signature,
                                        bundle.description.args};
    const std::string text = serialize_pending_installer(marker);
    if (Status written = write_into(updates / path_from_utf8(marker_file_name(MarkerKind::installer)), text); !written) {
        return written;
    }
    out << "staged installer " << bundle.description.installer << " version " << bundle.description.version << " in "
        << utf8_of(updates) << "\nthe service runs it within a few seconds: " << installer_path << " "
        << format_argument_list(installer_arguments(bundle.description.args)) << "\n";
    return ok();
}

}  // namespace

Status stage_bundle(const PublishCommand& command, const fs::path& updates, std::ostream& out) {
    const auto key = public_key_or_built_in(command.public_key);
    if (!key) return fail(key.error());
    const fs::path bundle = path_from_utf8(command.bundle);
    const bool files = path_exists(bundle / manifest_file);
    const bool installer = path_exists(bundle / installer_description_file);
    if (files == installer) {
        return fail("not a bundle folder (it must hold either " + std::string(manifest_file) + " or " +
                    installer_description_file + "): " + command.bundle);
    }
    if (files) {
        const auto checked = check_files_bundle(bundle, *key);
        if (!checked) return fail("refused: " + checked.error());
        if (Status room = make_room(updates, command.replace, out); !room) return fail("refused: " + room.error());
        return stage_files(*checked, updates, out);
    }
    const auto checked = check_installer_bundle(bundle, *key);
    if (!checked) return fail("refused: " + checked.error());
    if (Status room = make_room(updates, command.replace, out); !room) return fail("refused: " + room.error());
    return stage_installer(*checked, updates, out);
}

}  // namespace kv::publish
