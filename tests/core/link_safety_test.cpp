#include "link_safety.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

constexpr NodeFacts file{false, false, 1};
constexpr NodeFacts hard_linked_file{false, false, 2};
constexpr NodeFacts folder{true, false, 1};
constexpr NodeFacts file_link{false, true, 1};
constexpr NodeFacts folder_link{true, true, 1};

TEST(LinkSafety, ATreeWalkNeverDescendsThroughALink) {
    const struct {
        const char* what;
        NodeFacts by_name, by_handle;
        TreeStep step;
    } cases[] = {
        {"plain folder", folder, folder, TreeStep::descend},
        {"plain file", file, file, TreeStep::delete_node},
        {"junction opened as itself (Windows)", folder_link, folder_link, TreeStep::delete_link},
        {"file link opened as itself (Windows)", file_link, file_link, TreeStep::delete_link},
        {"folder link whose handle reached the target (Wine)", folder_link, folder, TreeStep::leave_link},
        {"file link whose handle reached the target", file_link, file, TreeStep::leave_link},
        {"a folder swapped for a file under us", folder, file, TreeStep::leave_link},
        {"a file swapped for a folder under us", file, folder, TreeStep::leave_link},
        {"listed plain, opened as a link", folder, folder_link, TreeStep::delete_link},
    };
    for (const auto& c : cases) EXPECT_EQ(tree_step(c.by_name, c.by_handle), c.step) << c.what;
}

TEST(LinkSafety, AWriteReplacesWhateverFileIsAtTheNameAndRefusesAFolder) {
    EXPECT_EQ(write_step(std::nullopt), WriteStep::create);
    EXPECT_EQ(write_step(file), WriteStep::replace);
    EXPECT_EQ(write_step(file_link), WriteStep::replace);
    EXPECT_EQ(write_step(hard_linked_file), WriteStep::replace);
    EXPECT_EQ(write_step(folder), WriteStep::refuse_folder);
    EXPECT_EQ(write_step(folder_link), WriteStep::refuse_folder);
}

TEST(LinkSafety, OnlyAPlainFileWithOneNameIsAppendedInPlace) {
    EXPECT_TRUE(may_append_in_place(file, file));
    EXPECT_FALSE(may_append_in_place(file, hard_linked_file));
    EXPECT_FALSE(may_append_in_place(file_link, file));
    EXPECT_FALSE(may_append_in_place(file, file_link));
    EXPECT_FALSE(may_append_in_place(folder, folder));
}

TEST(LinkSafety, ListedNamesAreJoinedOnlyWhenPlain) {
    for (const wchar_t* name : {L"a", L"manifest.json", L"..a", L"a..", L" x", L"\u03a3"}) EXPECT_TRUE(is_plain_child_name(name)) << name;
    for (const wchar_t* name : {L"", L".", L"..", L"a\\b", L"a/b", L"c:x", L"..\\.."}) EXPECT_FALSE(is_plain_child_name(name)) << name;
    EXPECT_FALSE(is_plain_child_name(std::wstring_view(L"a\0b", 3)));
}

TEST(LinkSafety, TheOutermostLinkedFolderIsNamed) {
    EXPECT_EQ(linked_folder_error({{"C:\\ProgramData\\Kestrivon", folder}, {"C:\\ProgramData\\Kestrivon\\Client", std::nullopt}}),
              std::nullopt);
    EXPECT_EQ(linked_folder_error({{"K", folder}, {"K\\Client", folder_link}, {"K\\Client\\updates", folder_link}}),
              "data folder is a link, refusing to use it: K\\Client");
    EXPECT_EQ(linked_folder_error({{"K", folder}, {"K\\Client", folder}, {"K\\Client\\updates", folder_link}}),
              "data folder is a link, refusing to use it: K\\Client\\updates");
}

TEST(LinkSafety, AttributesAreReadBitByBit) {
    EXPECT_TRUE(facts_from_attributes(0x410).reparse_point);
    EXPECT_TRUE(facts_from_attributes(0x410).directory);
    EXPECT_FALSE(facts_from_attributes(0x20).reparse_point);
    EXPECT_FALSE(facts_from_attributes(0x20).directory);
    EXPECT_EQ(facts_from_attributes(0x20, 3).link_count, 3u);
}

}  // namespace
}  // namespace kv
