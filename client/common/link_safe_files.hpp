#pragma once
// File operations for the folders the customer can write to (the data folders and the
// Windows Temp folder). The service runs as LocalSystem there, so none of these follows a
// link planted at a name: a link is removed itself where the system allows it, or left,
// but nothing is ever written, renamed or deleted through it. Reads may follow links: what
// they return is checked by signature and digest.
#include <windows.h>

#include <filesystem>
#include <string_view>
#include <vector>

#include "link_safety.hpp"
#include "result.hpp"
#include "unique_resource.hpp"

namespace kv {

// How the operations see names and handles; tests replace it to show a link where the
// host's file system cannot make one (Wine does not flag links to files).
class NodeObserver {
public:
    virtual ~NodeObserver() = default;
    // Nothing when the name does not exist.
    virtual std::optional<NodeFacts> by_name(const std::filesystem::path& path) const;
    virtual Result<NodeFacts> by_handle(HANDLE node) const;
};
const NodeObserver& system_node_observer();

// Deletes a file, or a folder with everything below it; links met on the way are removed
// themselves or left in place, never descended into. A missing name is success. The first
// failure is returned after the rest has been tried.
Status delete_tree_no_follow(const std::filesystem::path& path, const NodeObserver& observer = system_node_observer());
void delete_tree_quietly(const std::filesystem::path& path);

// Deletes the file or link at the name (a folder is refused). A missing name is success.
Status delete_file_no_follow(const std::filesystem::path& path, const NodeObserver& observer = system_node_observer());
void delete_file_quietly(const std::filesystem::path& path);

// Replaces whatever file or link is at the name by a new file holding the bytes, flushed
// to disk. A folder at the name is refused.
Status write_file_no_follow(const std::filesystem::path& path, std::string_view bytes,
                            const NodeObserver& observer = system_node_observer());

// Appends to a plain file with one name; anything else at the name (a link, a hard-linked
// file) is replaced by a new file first.
Status append_file_no_follow(const std::filesystem::path& path, std::string_view bytes,
                             const NodeObserver& observer = system_node_observer());

// Renames the plain file `from` to `to`, replacing a file or link there, through the handle
// of `from` so that neither name can be swapped for a link between the check and the rename.
Status rename_file_no_follow(const std::filesystem::path& from, const std::filesystem::path& to,
                             const NodeObserver& observer = system_node_observer());

// Opens a real folder (never a link, never through one) with the given access and without
// sharing delete, so it cannot be swapped while the handle is held.
Result<UniqueFileHandle> open_folder_no_follow(const std::filesystem::path& folder, DWORD access,
                                               const NodeObserver& observer = system_node_observer());

// Fails with an error naming the first folder of the chain (outermost first) that is a
// link; missing folders are fine.
Status refuse_linked_folders(const std::vector<std::filesystem::path>& chain,
                             const NodeObserver& observer = system_node_observer());

}  // namespace kv
