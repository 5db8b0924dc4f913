// The link rules on any facts and names: a link is never descended into or appended through,
// and a name that passes never climbs out of or leaves its folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link_safety.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint32_t name_attributes = data[0] | (data[1] << 8);
    const std::uint32_t handle_attributes = data[2] | (data[3] << 8);
    const kv::NodeFacts by_name = kv::facts_from_attributes(name_attributes, 1);
    const kv::NodeFacts by_handle = kv::facts_from_attributes(handle_attributes, 1 + (size & 1));
    const kv::TreeStep step = kv::tree_step(by_name, by_handle);
    const bool any_link = by_name.reparse_point || by_handle.reparse_point;
    if (any_link && (step == kv::TreeStep::descend || step == kv::TreeStep::delete_node)) __builtin_trap();
    if (step == kv::TreeStep::delete_link && !by_handle.reparse_point) __builtin_trap();
    if (kv::may_append_in_place(by_name, by_handle) && (any_link || by_handle.link_count != 1)) __builtin_trap();
    if (kv::write_step(by_name) == kv::WriteStep::create) __builtin_trap();

    std::wstring name;
    for (std::size_t i = 4; i + 1 < size; i += 2) name.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    if (kv::is_plain_child_name(name)) {
        if (name == L"." || name == L".." || name.empty()) __builtin_trap();
        if (name.find_first_of(L"\\/:") != std::wstring::npos || name.find(L'\0') != std::wstring::npos) __builtin_trap();
    }
    std::vector<kv::FolderFacts> chain{{"a", by_name}, {"a\\b", by_handle}};
    const auto error = kv::linked_folder_error(chain);
    if (error.has_value() != any_link) __builtin_trap();
    return 0;
}
