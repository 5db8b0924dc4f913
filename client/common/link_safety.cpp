#include "link_safety.hpp"

namespace kv {

NodeFacts facts_from_attributes(std::uint32_t attributes, std::uint32_t link_count) {
    return NodeFacts{(attributes & attribute_directory) != 0, (attributes & attribute_reparse_point) != 0, link_count};
}

TreeStep tree_step(const NodeFacts& by_name, const NodeFacts& by_handle) {
    if (by_handle.reparse_point) return TreeStep::delete_link;
    if (by_name.reparse_point) return TreeStep::leave_link;
    if (by_name.directory != by_handle.directory) return TreeStep::leave_link;  // swapped under us
    return by_handle.directory ? TreeStep::descend : TreeStep::delete_node;
}

WriteStep write_step(const std::optional<NodeFacts>& by_name) {
    if (!by_name) return WriteStep::create;
    if (by_name->directory) return WriteStep::refuse_folder;
    return WriteStep::replace;
}

bool may_append_in_place(const NodeFacts& by_name, const NodeFacts& by_handle) {
    return !by_name.reparse_point && !by_handle.reparse_point && !by_name.directory && !by_handle.directory &&
           by_handle.link_count == 1;
}

bool is_plain_child_name(std::wstring_view name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    for (const wchar_t c : name) {
        if (c == L'\\' || c == L'/' || c == L':' || c == L'\0') return false;
    }
    return true;
}

std::optional<std::string> linked_folder_error(const std::vector<FolderFacts>& chain) {
    for (const FolderFacts& folder : chain) {
        if (folder.facts && folder.facts->reparse_point) return "data folder is a link, refusing to use it: " + folder.path;
    }
    return std::nullopt;
}

}  // namespace kv
