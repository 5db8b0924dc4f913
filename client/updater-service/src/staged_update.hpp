#pragma once
// A staged file update: signed manifest, new files below "staging", applied file by file
// with a backup and a roll-back of the file being replaced.
#include <filesystem>
#include <vector>

#include "result.hpp"
#include "update_environment.hpp"
#include "update_records.hpp"

namespace kv {

// Two texts on failure: what last-error.txt records, and what the apply check returns.
struct ManifestRejection {
    std::string recorded;
    std::string returned;
};

// Reads manifest.json and its signature once, verifies, then parses the verified bytes.
std::variant<AppManifest, ManifestRejection> load_verified_manifest(const std::filesystem::path& updates);

// Checks every path and checksum before touching anything, then replaces in manifest order.
Status apply_staged_update(const UpdateEnvironment& environment, const std::vector<ManifestFile>& files);

// Deletes the signature, the manifest, the marker and the staging folder; errors ignored.
void clear_pending_update(const std::filesystem::path& updates);

// The staged-update branch of the apply check: waits, rejects or applies.
Status run_staged_update(const UpdateEnvironment& environment);

}  // namespace kv
