#pragma once
// The replace phase of a staged update as steps on a file system it is handed. Each file goes
// in through a flushed new copy and a backup, so a process that dies at any step leaves only
// side files that the repair of an interrupted replace knows how to undo.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv {

// What the replace phase and its repair do to the disk: the service hands in Win32 calls,
// tests a file system in memory that can stop dead after any step.
class ReplaceFileSystem {
public:
    virtual ~ReplaceFileSystem() = default;
    virtual bool exists(const std::filesystem::path& path) = 0;
    // The folder and every missing level above it.
    virtual Status create_folders(const std::filesystem::path& folder) = 0;
    // Created or truncated, written whole and flushed to disk before it returns, so a power
    // cut after a later rename cannot leave an empty or zero-filled file behind the name.
    virtual Status write_flushed(const std::filesystem::path& path, std::string_view bytes) = 0;
    virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace_existing) = 0;
    virtual Status remove(const std::filesystem::path& path) = 0;
};

struct PlannedFile {
    std::string content;  // exactly the bytes whose checksum was verified
    std::filesystem::path destination;
};

// destination + ".kv-new"
std::filesystem::path new_copy_path(const std::filesystem::path& destination);
// destination + ".kv-old-{unix seconds}-{pid}"
std::filesystem::path backup_path(const std::filesystem::path& destination, std::uint64_t unix_seconds, std::uint32_t pid);

// A path as UTF-8 text for log lines and error texts.
std::string path_text(const std::filesystem::path& path);

// Replaces the files in plan order. The first failure ends it with "replace failed for {}: {}"
// (destination, the failed step's error text): files before it stay replaced, the failing one
// is put back from its backup. `unix_now` names each backup when its file is reached.
Status replace_planned_files(const std::vector<PlannedFile>& plan, ReplaceFileSystem& files,
                             const std::function<std::uint64_t()>& unix_now, std::uint32_t pid);

}  // namespace kv
