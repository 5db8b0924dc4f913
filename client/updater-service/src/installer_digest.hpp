#pragma once
// The installer branch's one read of the installer: its bytes with SHA-256 and BLAKE2b-512
// computed side by side while they are read.
#include <filesystem>

#include "paired_digests.hpp"
#include "result.hpp"

namespace kv {

// Fails with the system error text.
Result<DigestedBytes> read_installer_with_digests(const std::filesystem::path& installer);

}  // namespace kv
