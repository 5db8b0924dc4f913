#pragma once
// A walk of the install folder that never goes through a link: reparse points (junctions,
// symbolic links, mount points) are neither entered nor reported, so nothing outside the
// folder can be reached, renamed or deleted through one.
#include <filesystem>
#include <functional>
#include <vector>

namespace kv {

// Every file below `root` (recursively) that `wanted` accepts; folders that cannot be listed
// are passed over.
std::vector<std::filesystem::path> find_files_without_links(const std::filesystem::path& root,
                                                            const std::function<bool(const std::filesystem::path&)>& wanted);

}  // namespace kv
