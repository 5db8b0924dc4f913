#pragma once
// The update engine's file formats: the signed manifest and the marker records.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv {

struct ManifestFile {
    std::string relative_path;
    std::string sha256;
};

struct AppManifest {
    std::string version;
    std::vector<ManifestFile> files;
};

struct PendingInstallerUpdate {
    std::string version;
    std::string installer_path;
    std::string sha256;
    std::string signature;
    std::vector<std::string> args;
};

struct PendingRelaunch {
    std::string version;
    std::string installer_image;
    std::uint64_t created_at = 0;
    std::uint64_t installer_start_time = 0;
    std::uint32_t installer_pid = 0;

    bool is_legacy() const { return installer_start_time == 0 && installer_image.empty(); }
};

// Each fails with the JSON reader's message: "missing field `{}` at line {} column {}",
// "duplicate field `{}` at ...", a type error or a syntax error.
Result<AppManifest> parse_app_manifest(std::string_view bytes);
Result<PendingInstallerUpdate> parse_pending_installer(std::string_view bytes);
Result<PendingRelaunch> parse_pending_relaunch(std::string_view bytes);

// The update marker's content is not read, but it must be a JSON object:
// "not a JSON object" for any other value, else the parser's message.
Status check_pending_update_content(std::string_view bytes);

// Pretty-printed with two-space indentation, keys in their fixed order.
std::string serialize_pending_relaunch(const PendingRelaunch& marker);

// The same layout for what a publisher writes, so it reads back exactly as parsed.
std::string serialize_app_manifest(const AppManifest& manifest);
std::string serialize_pending_installer(const PendingInstallerUpdate& marker);

}  // namespace kv
