// On the signing PC: a bundle folder for a staged file update or for an installer, signed by
// minisign and kept only when the service's own verifier accepts the signature.
#include <system_error>

#include "bundle_layout.hpp"
#include "minisign_runner.hpp"
#include "publish_commands.hpp"
#include "sha256.hpp"
#include "signing_key.hpp"

namespace kv::publish {
namespace {

struct SigningInputs {
    SigningKey key;
    fs::path secret_key;
};

Result<SigningInputs> signing_inputs(const PublishCommand& command) {
    auto key = read_public_key(path_from_utf8(command.public_key));
    if (!key) return fail(key.error());
    const fs::path secret_key = path_from_utf8(command.secret_key);
    // Only readable is checked; the secret key's format and password are minisign's business.
    if (const FileBytes read = read_file_bytes(secret_key); !read.ok()) {
        return fail("cannot read secret key " + command.secret_key + ": " + read.error);
    }
    return SigningInputs{std::move(key).value(), secret_key};
}

fs::path without_trailing_separator(fs::path path) {
    path = path.lexically_normal();
    if (!path.has_filename() && path.has_parent_path()) path = path.parent_path();
    return path;
}

// The bundle grows in a folder beside its final name and takes that name only when it is
// complete and verified; whatever goes wrong before, the folder is removed.
class PartialBundle {
public:
    explicit PartialBundle(fs::path final_path)
        : final_(std::move(final_path)), partial_(final_.wstring() + L".kv-partial") {}
    PartialBundle(const PartialBundle&) = delete;
    PartialBundle& operator=(const PartialBundle&) = delete;
    ~PartialBundle() {
        if (!committed_) {
            std::error_code ignored;
            fs::remove_all(partial_, ignored);
        }
    }

    Status create() {
        std::error_code ignored;
        fs::remove_all(partial_, ignored);  // left by an interrupted run
        return create_folders(partial_);
    }
    const fs::path& folder() const { return partial_; }

    Status write(const fs::path& relative, std::string_view bytes) const {
        const fs::path target = partial_ / relative;
        if (Status made = create_folders(target.parent_path()); !made) return made;
        return write_file_durably(target, bytes);
    }

    Status commit() {
        std::error_code error;
        fs::rename(partial_, final_, error);
        if (error) return fail("cannot rename " + utf8_of(partial_) + " to " + utf8_of(final_) + ": " + error.message());
        committed_ = true;
        return ok();
    }

private:
    fs::path final_;
    fs::path partial_;
    bool committed_ = false;
};

Result<fs::path> check_output_folder(const std::string& option) {
    const fs::path out = without_trailing_separator(path_from_utf8(option));
    std::error_code error;
    if (fs::exists(out, error)) return fail("bundle folder already exists: " + option + " (choose a new --out)");
    return out;
}

// Signs `message` (inside the partial bundle) and checks the result as a station would.
Status sign_and_check(const PublishCommand& command, const SigningInputs& inputs, const PartialBundle& bundle,
                      const fs::path& message_file, std::string_view message, const fs::path& signature_file) {
    const fs::path signature_path = bundle.folder() / signature_file;
    if (Status signed_ = sign_with_minisign(command.minisign, inputs.secret_key, bundle.folder() / message_file,
                                            signature_path, "kestrivon update " + command.version);
        !signed_) {
        return fail("signing failed: " + signed_.error());
    }
    const FileBytes signature = read_file_bytes(signature_path);
    if (!signature.ok()) return fail("minisign left no signature " + utf8_of(signature_path) + ": " + signature.error);
    if (Status verified = verify_with(inputs.key, message, signature.bytes); !verified) {
        std::string hint;
        if (verified.error().find("different key") != std::string::npos) {
            hint = " (is " + command.secret_key + " the secret half of " + command.public_key + "?)";
        } else if (verified.error().find("Unexpected signature algorithm") != std::string::npos) {
            hint = " (minisign made a legacy signature; stations accept prehashed ones only)";
        }
        return fail("refused: the signature does not verify with " + inputs.key.description +
                    ", so a station built with that key would reject this update: " + verified.error() + hint);
    }
    return ok();
}

bool lies_inside(const fs::path& inner, const fs::path& outer) {
    std::error_code error;
    const fs::path relative = fs::weakly_canonical(inner, error).lexically_relative(fs::weakly_canonical(outer, error));
    return !error && !relative.empty() && *relative.begin() != "..";
}

struct SourceFile {
    ManifestFile entry;
    std::string bytes;
};

Result<std::vector<SourceFile>> read_source_files(const fs::path& from) {
    std::vector<SourceFile> files;
    std::error_code error;
    fs::recursive_directory_iterator walk(from, error);
    if (error) return fail("cannot read folder " + utf8_of(from) + ": " + error.message());
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) return fail("cannot read folder " + utf8_of(from) + ": " + error.message());
        const fs::path& path = walk->path();
        const std::string relative = generic_utf8_of(path.lexically_relative(from));
        if (is_link(path)) return fail("links are not published, copy the file itself: " + relative);
        if (walk->is_directory(error)) continue;
        if (!walk->is_regular_file(error)) return fail("not a regular file: " + relative);
        FileBytes read = read_file_bytes(path);
        if (!read.ok()) return fail("cannot read " + utf8_of(path) + ": " + read.error);
        files.push_back({{relative, sha256_hex(read.bytes)}, std::move(read.bytes)});
    }
    return files;
}

}  // namespace

Status make_files_bundle(const PublishCommand& command, std::ostream& out) {
    if (Status label = check_version_label(command.version); !label) return label;
    const auto inputs = signing_inputs(command);
    if (!inputs) return fail(inputs.error());
    const fs::path from = path_from_utf8(command.from);
    std::error_code error;
    if (!fs::is_directory(from, error)) return fail("source folder not found: " + command.from);
    const auto bundle_path = check_output_folder(command.out);
    if (!bundle_path) return fail(bundle_path.error());
    if (lies_inside(*bundle_path, from)) return fail("the bundle folder must not lie inside --from: " + command.out);

    auto files = read_source_files(from);
    if (!files) return fail(files.error());
    if (files->empty()) return fail("no files below " + command.from + ": the service refuses an update without files");
    std::vector<ManifestFile> entries;
    for (const SourceFile& file : *files) entries.push_back(file.entry);
    const auto manifest = build_manifest(command.version, std::move(entries));
    if (!manifest) return fail(manifest.error());
    const std::string manifest_text = serialize_app_manifest(*manifest);

    PartialBundle bundle(*bundle_path);
    if (Status made = bundle.create(); !made) return made;
    for (const SourceFile& file : *files) {
        if (Status written = bundle.write(fs::path(staging_folder) / path_from_utf8(file.entry.relative_path), file.bytes);
            !written) {
            return written;
        }
    }
    if (Status written = bundle.write(manifest_file, manifest_text); !written) return written;
    if (Status checked = sign_and_check(command, *inputs, bundle, manifest_file, manifest_text, signature_file); !checked) {
        return checked;
    }
    if (Status done = bundle.commit(); !done) return done;
    out << "bundle " << command.out << ": version " << command.version << ", " << manifest->files.size()
        << " file(s), signature verified with " << inputs->key.description << "\n";
    for (const ManifestFile& file : manifest->files) out << "  " << file.sha256 << "  " << file.relative_path << "\n";
    return ok();
}

Status make_installer_bundle(const PublishCommand& command, std::ostream& out) {
    if (Status label = check_version_label(command.version); !label) return label;
    const auto inputs = signing_inputs(command);
    if (!inputs) return fail(inputs.error());
    const fs::path installer = path_from_utf8(command.installer);
    const std::string name = utf8_of(installer.filename());
    if (Status named = check_installer_file_name(name); !named) return named;
    const FileBytes read = read_file_bytes(installer);
    if (!read.ok()) return fail("cannot read installer " + command.installer + ": " + read.error);
    const auto bundle_path = check_output_folder(command.out);
    if (!bundle_path) return fail(bundle_path.error());

    const InstallerBundle description{command.version, name, sha256_hex(read.bytes), command.args};
    PartialBundle bundle(*bundle_path);
    if (Status made = bundle.create(); !made) return made;
    const fs::path installer_file = fs::path(installer_folder) / installer.filename();
    if (Status written = bundle.write(installer_file, read.bytes); !written) return written;
    if (Status checked = sign_and_check(command, *inputs, bundle, installer_file, read.bytes, installer_signature_file);
        !checked) {
        return checked;
    }
    if (Status written = bundle.write(installer_description_file, serialize_installer_bundle(description)); !written) {
        return written;
    }
    if (Status done = bundle.commit(); !done) return done;
    out << "bundle " << command.out << ": installer " << name << " version " << command.version << ", sha256 "
        << description.sha256 << ", signature verified with " << inputs->key.description << "\n";
    return ok();
}

}  // namespace kv::publish
