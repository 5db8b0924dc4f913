#pragma once
// Where the customer can write, a name may be a link they planted. These rules decide, from
// what the system reports of a name and of the handle opened on it, what the service may do
// there; they take no Windows calls so they are tested and fuzzed natively.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// What a directory listing or an attribute query reports of a name (by name), or what the
// handle opened on it without following links reports (by handle).
struct NodeFacts {
    bool directory = false;
    bool reparse_point = false;
    std::uint32_t link_count = 1;  // hard links; only known by handle
};

// File attribute bits as the system reports them.
inline constexpr std::uint32_t attribute_directory = 0x10;
inline constexpr std::uint32_t attribute_reparse_point = 0x400;
NodeFacts facts_from_attributes(std::uint32_t attributes, std::uint32_t link_count = 1);

enum class TreeStep {
    descend,      // a real folder: delete what it holds, then the folder itself
    delete_node,  // a plain file: delete it
    delete_link,  // the handle is the link itself: delete the link, never its target
    leave_link,   // a link whose handle reached its target (Wine): leave it where it is
};

// A link on either side wins: a name that is a link is never descended into, even when the
// handle shows a plain folder (the handle then reached the target).
TreeStep tree_step(const NodeFacts& by_name, const NodeFacts& by_handle);

enum class WriteStep {
    create,         // nothing there: create the file new
    replace,        // a plain file with one name: write a new file and rename it over this one
    refuse_folder,  // a folder (or a link to one) sits at the name
};

// For creating or overwriting a file at a name. A link or a hard-linked file at the name is
// replaced by a new file, never written through.
WriteStep write_step(const std::optional<NodeFacts>& by_name);

// Whether an existing entry can be appended to in place: a plain file with one name only.
bool may_append_in_place(const NodeFacts& by_name, const NodeFacts& by_handle);

// A name from a directory listing that may be joined to its folder: not "." or "..", not
// empty, and holding no separator or drive colon.
bool is_plain_child_name(std::wstring_view name);

// The first folder of the chain (outermost first) that is a link, as the error that names
// it; nothing when none is.
struct FolderFacts {
    std::string path;
    std::optional<NodeFacts> facts;  // nothing: the folder does not exist
};
std::optional<std::string> linked_folder_error(const std::vector<FolderFacts>& chain);

}  // namespace kv
