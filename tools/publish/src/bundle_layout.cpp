#include "bundle_layout.hpp"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "json_document.hpp"
#include "text.hpp"
#include "update_decisions.hpp"

namespace kv::publish {
namespace {

template <class T>
Status take(T& field, Result<T> value) {
    if (!value) return fail(value.error());
    field = std::move(value).value();
    return ok();
}

// Names the Windows file system keeps for devices, with or without an extension.
bool is_device_name(std::string_view component) {
    const std::string stem = ascii_lower(component.substr(0, component.find('.')));
    static constexpr std::array<std::string_view, 4> plain = {"con", "prn", "aux", "nul"};
    if (std::find(plain.begin(), plain.end(), stem) != plain.end()) return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' && stem[3] <= '9';
}

// Why Windows cannot hold this one path component, or nothing.
std::optional<std::string> windows_name_problem(std::string_view component) {
    for (const char c : component) {
        if (static_cast<unsigned char>(c) < 0x20) return "a control character";
        if (std::string_view("<>\"|?*").find(c) != std::string_view::npos) return std::string("the character ") + c;
    }
    if (component.back() == '.' || component.back() == ' ') return "a name ending in a dot or a space";
    if (is_device_name(component)) return "a device name";
    return std::nullopt;
}

}  // namespace

Result<InstallerBundle> parse_installer_bundle(std::string_view bytes) {
    auto document = parse_json_document(bytes);
    if (!document) return fail(document.error());
    if (!document->value.is_object()) return fail(invalid_type(document->value, "a map"));
    const JsonObjectReader root(*document, document->value, "");
    InstallerBundle bundle;
    if (Status s = take(bundle.version, root.required_string("version")); !s) return fail(s.error());
    if (Status s = take(bundle.installer, root.required_string("installer")); !s) return fail(s.error());
    if (Status s = take(bundle.sha256, root.required_string("sha256")); !s) return fail(s.error());
    if (Status s = take(bundle.args, root.optional_string_list("args")); !s) return fail(s.error());
    return bundle;
}

std::string serialize_installer_bundle(const InstallerBundle& bundle) {
    nlohmann::ordered_json json;
    json["version"] = bundle.version;
    json["installer"] = bundle.installer;
    json["sha256"] = bundle.sha256;
    json["args"] = bundle.args;
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Status check_version_label(std::string_view version) {
    if (version.empty()) return fail("version label is empty");
    for (const char c : version) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return fail("version label holds a control character");
    }
    if (utf8_lossy(version) != version) return fail("version label is not valid UTF-8");
    return ok();
}

Status check_installer_file_name(std::string_view name) {
    if (name.empty() || name.find_first_of("/\\:") != std::string_view::npos || name == "." || name == "..") {
        return fail("installer file name must be a plain file name: " + std::string(name));
    }
    // The service starts the installer itself, so it must be a program, not a package.
    if (!ascii_lower(name).ends_with(".exe")) {
        return fail("installer file name must end in .exe (the service starts it as a program): " + std::string(name));
    }
    if (auto problem = windows_name_problem(name)) {
        return fail("installer file name holds " + *problem + ", which Windows cannot hold: " + std::string(name));
    }
    return ok();
}

Status check_publishable_path(std::string_view relative_path) {
    // On Linux a backslash is part of a name; a station would read it as a folder separator.
    if (relative_path.find('\\') != std::string_view::npos) {
        return fail("file name holds a backslash, which a station reads as a folder separator: " + std::string(relative_path));
    }
    if (utf8_lossy(relative_path) != relative_path) return fail("file name is not valid UTF-8: " + utf8_lossy(relative_path));
    const auto components = safe_relative_components(relative_path);
    if (!components) return fail(components.error());
    for (const std::string& component : *components) {
        if (auto problem = windows_name_problem(component)) {
            return fail("file name holds " + *problem + ", which Windows cannot hold: " + std::string(relative_path));
        }
    }
    return ok();
}

Result<AppManifest> build_manifest(std::string version, std::vector<ManifestFile> files) {
    std::sort(files.begin(), files.end(),
              [](const ManifestFile& a, const ManifestFile& b) { return a.relative_path < b.relative_path; });
    std::vector<std::pair<std::string, const ManifestFile*>> folded;
    for (const ManifestFile& file : files) {
        if (Status publishable = check_publishable_path(file.relative_path); !publishable) return fail(publishable.error());
        folded.emplace_back(ascii_lower(file.relative_path), &file);
    }
    std::sort(folded.begin(), folded.end());
    for (std::size_t i = 1; i < folded.size(); ++i) {
        if (folded[i].first == folded[i - 1].first) {
            return fail("two files differ only in letter case, which a station cannot keep apart: " +
                        folded[i - 1].second->relative_path + " and " + folded[i].second->relative_path);
        }
    }
    return AppManifest{std::move(version), std::move(files)};
}

}  // namespace kv::publish
