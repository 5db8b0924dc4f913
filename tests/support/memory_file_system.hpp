#pragma once
// The replace phase's file system kept in memory. It can stop dead after any number of steps
// that change the disk, as a killed process or a power cut would, optionally tearing the
// write it dies in (flushed bytes survive, the rest of that write does not).
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "file_replacement.hpp"

namespace kv::testing {

class MemoryFileSystem final : public ReplaceFileSystem {
public:
    std::map<std::filesystem::path, std::string> files;
    std::set<std::filesystem::path> folders;
    std::optional<int> dies_after;  // steps that still complete; none: never dies
    bool tears_its_last_write = false;
    std::set<std::filesystem::path> refused_renames_to;  // renames onto these fail
    std::set<std::filesystem::path> refused_writes;
    int steps = 0;

    bool dead() const { return dead_; }
    // The next process finds the disk as the dead one left it.
    void restart() {
        dead_ = false;
        dies_after.reset();
    }

    bool exists(const std::filesystem::path& path) override { return files.contains(path) || folders.contains(path); }

    Status create_folders(const std::filesystem::path& folder) override {
        if (!step()) return fail("dead");
        std::vector<std::filesystem::path> missing;
        for (auto level = folder; !folders.contains(level); level = level.parent_path()) {
            if (files.contains(level)) return fail("a file is in the way");
            missing.push_back(level);
            if (level.parent_path() == level) break;
        }
        folders.insert(missing.begin(), missing.end());
        return ok();
    }

    Status write_flushed(const std::filesystem::path& path, std::string_view bytes) override {
        if (!step()) {
            if (dying_now_ && tears_its_last_write && folders.contains(path.parent_path())) {
                files[path] = std::string(bytes.substr(0, bytes.size() / 2));
            }
            return fail("dead");
        }
        if (refused_writes.contains(path)) return fail("the disk is full");
        if (!folders.contains(path.parent_path())) return fail("the folder does not exist");
        files[path] = std::string(bytes);
        return ok();
    }

    Status rename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace_existing) override {
        if (!step()) return fail("dead");
        if (refused_renames_to.contains(to)) return fail("the file is in use");
        const auto source = files.find(from);
        if (source == files.end()) return fail("the file does not exist");
        if (exists(to) && !replace_existing) return fail("the file exists");
        if (!folders.contains(to.parent_path())) return fail("the folder does not exist");
        std::string content = std::move(source->second);
        files.erase(source);
        files[to] = std::move(content);
        return ok();
    }

    Status remove(const std::filesystem::path& path) override {
        if (!step()) return fail("dead");
        return files.erase(path) ? ok() : fail("the file does not exist");
    }

private:
    bool step() {
        dying_now_ = false;
        if (dead_) return false;
        if (dies_after && steps >= *dies_after) {
            dead_ = dying_now_ = true;
            return false;
        }
        ++steps;
        return true;
    }

    bool dead_ = false;
    bool dying_now_ = false;
};

}  // namespace kv::testing
