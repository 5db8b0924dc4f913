#pragma once
// The file operations of the tool, with the error texts of the platform it runs on: on
// Windows those the service itself would show.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv::publish {

namespace fs = std::filesystem;

// Paths travel as UTF-8 text inside the tool.
fs::path path_from_utf8(std::string_view text);
std::string utf8_of(const fs::path& path);
// With "/" between the components, as the manifest writes relative paths.
std::string generic_utf8_of(const fs::path& path);

// A manifest path's components (see safe_relative_components) as a relative path.
inline fs::path relative_path_of(const std::vector<std::string>& components) {
    fs::path relative;
    for (const std::string& component : components) relative /= path_from_utf8(component);
    return relative;
}

struct FileBytes {
    std::string bytes;
    std::string error;  // empty when read
    bool missing = false;

    bool ok() const { return error.empty(); }
};

FileBytes read_file_bytes(const fs::path& path);

// Fails with the system error text.
Result<std::chrono::system_clock::time_point> modified_time(const fs::path& path);

// Any failure to look the path up counts as absent, as for the service.
bool path_exists(const fs::path& path);

// Resolved against the file system as the service resolves paths (on Windows in the
// extended-length form). Fails with the system error text.
Result<std::string> canonical_text(const fs::path& path);

// The service's component-wise containment test on two canonical_text results.
bool canonical_lies_within(std::string_view path, std::string_view folder);

// Writes to a temporary name beside the target, flushes it to disk and renames it over the
// target, so a reader sees the old file or the whole new one.
Status write_file_durably(const fs::path& target, std::string_view bytes);

// A symbolic link, or on Windows any reparse point (junctions included).
bool is_link(const fs::path& path);

// Fails with "{} is a link; ..." for the first link at or below the path.
Status refuse_links(const fs::path& path);

// Removes the file or folder tree, refusing before it removes anything when a link lies
// inside: a link planted in the updates folder must not lead the tool to delete elsewhere.
Status remove_tree(const fs::path& path);

// Creates the folder and the missing levels above it.
Status create_folders(const fs::path& folder);

// The updates folder the service uses, when this platform has one.
std::optional<fs::path> default_updates_folder();

// Prepares standard output for UTF-8 text.
void prepare_console();

}  // namespace kv::publish
