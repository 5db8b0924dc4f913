#pragma once
// What a bundle folder holds, and the rules for what may go into one: only what a station's
// service would accept.
//   files bundle:     staging/..., manifest.json, manifest.json.sig
//   installer bundle: installer/SETUP.EXE, installer.sig, installer.json
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"
#include "update_records.hpp"

namespace kv::publish {

inline constexpr char manifest_file[] = "manifest.json";
inline constexpr char signature_file[] = "manifest.json.sig";
inline constexpr char staging_folder[] = "staging";
inline constexpr char installer_folder[] = "installer";
inline constexpr char installer_description_file[] = "installer.json";
inline constexpr char installer_signature_file[] = "installer.sig";

// installer.json: the installer marker's fields that do not depend on the station.
struct InstallerBundle {
    std::string version;
    std::string installer;  // file name inside installer/
    std::string sha256;
    std::vector<std::string> args;
};

// Fails with the JSON reader's message, as the service's own records do.
Result<InstallerBundle> parse_installer_bundle(std::string_view bytes);
std::string serialize_installer_bundle(const InstallerBundle& bundle);

// A version label goes into minisign's one-line trusted comment and the service's log lines.
// Fails with "version label is empty" or "version label holds a control character".
Status check_version_label(std::string_view version);

// One file name the service can start as an installer. Fails with "installer file name ...".
Status check_installer_file_name(std::string_view name);

// A relative path (with "/") a station can hold and the service accepts. Fails with the
// service's "unsafe relative path: {}" or with why Windows cannot hold the name.
Status check_publishable_path(std::string_view relative_path);

// The manifest of these files in a stable order (by path). Fails on the first path that
// check_publishable_path refuses, or on two paths that differ only in letter case.
Result<AppManifest> build_manifest(std::string version, std::vector<ManifestFile> files);

}  // namespace kv::publish
