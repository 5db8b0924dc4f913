#pragma once
#include <filesystem>

#include "result.hpp"

namespace kv {

// Resolves links and relative parts against the file system, as the system reports the
// final path: the extended-length form beginning with \\?\. Fails with the system error text.
Result<std::filesystem::path> canonicalize_path(const std::filesystem::path& path);

// Drops a leading \\?\ so the path compares with process image paths.
std::wstring without_extended_prefix(std::wstring path);

}  // namespace kv
