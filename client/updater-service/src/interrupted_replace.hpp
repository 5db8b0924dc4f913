#pragma once
// Undoing what a replace left behind when its process died (a crash, a kill, a power cut):
// every file goes back to its old content unless its new copy was already renamed into place.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "file_replacement.hpp"
#include "log_sink.hpp"

namespace kv {

struct SideFile {
    enum class Kind { new_copy, backup } kind;
    std::filesystem::path path;
    std::filesystem::path destination;
    std::uint64_t unix_seconds = 0;  // backups: the moment in the name (saturated), to find the newest
    std::uint32_t pid = 0;
};

// Recognises "{name}.kv-new" and "{name}.kv-old-{seconds}-{pid}" (decimal digits, {name} not
// empty); anything else is no side file of the replace.
std::optional<SideFile> side_file_of(const std::filesystem::path& path);

// For each destination among the side files: its new copy is removed; if the destination is
// missing, its newest backup is renamed back; every other backup is removed. One log line per
// repair, naming the file. Backups are never renamed over an existing file.
void repair_interrupted_replace(const std::vector<std::filesystem::path>& side_files, ReplaceFileSystem& files,
                                const LogSink& log);

}  // namespace kv
