#include "file_replacement.hpp"

#ifdef _WIN32
#include "win_text.hpp"
#endif

namespace kv {
namespace {

std::filesystem::path with_suffix(const std::filesystem::path& path, const std::string& ascii_suffix) {
    std::filesystem::path::string_type name = path.native();
    name.append(ascii_suffix.begin(), ascii_suffix.end());
    return name;
}

Status replace_one(const PlannedFile& entry, ReplaceFileSystem& files, std::uint64_t unix_seconds, std::uint32_t pid) {
    const std::filesystem::path& destination = entry.destination;
    const auto failed = [&](const std::string& why) { return fail("replace failed for " + path_text(destination) + ": " + why); };
    if (Status made = files.create_folders(destination.parent_path()); !made) return failed(made.error());

    const std::filesystem::path fresh = new_copy_path(destination);
    const std::filesystem::path backup = backup_path(destination, unix_seconds, pid);
    (void)files.remove(fresh);
    if (Status written = files.write_flushed(fresh, entry.content); !written) return failed(written.error());
    const bool had_destination = files.exists(destination);
    if (had_destination) {
        if (Status moved = files.rename(destination, backup, true); !moved) return failed(moved.error());
    }
    const Status placed = files.rename(fresh, destination, true);
    if (placed) {
        if (had_destination) (void)files.remove(backup);
        return ok();
    }
    // Put the old file back so this one file is as it was.
    if (files.exists(backup) && !files.exists(destination)) (void)files.rename(backup, destination, false);
    return failed(placed.error());
}

}  // namespace

std::filesystem::path new_copy_path(const std::filesystem::path& destination) { return with_suffix(destination, ".kv-new"); }

std::filesystem::path backup_path(const std::filesystem::path& destination, std::uint64_t unix_seconds, std::uint32_t pid) {
    return with_suffix(destination, ".kv-old-" + std::to_string(unix_seconds) + "-" + std::to_string(pid));
}

std::string path_text(const std::filesystem::path& path) {
#ifdef _WIN32
    return narrow(path.native());
#else
    return path.native();
#endif
}

Status replace_planned_files(const std::vector<PlannedFile>& plan, ReplaceFileSystem& files,
                             const std::function<std::uint64_t()>& unix_now, std::uint32_t pid) {
    for (const PlannedFile& entry : plan) {
        if (Status replaced = replace_one(entry, files, unix_now(), pid); !replaced) return replaced;
    }
    return ok();
}

}  // namespace kv
