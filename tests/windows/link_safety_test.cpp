// Links a customer plants on their side of the boundary: Wine shows a Unix symbolic link to
// a folder as a reparse point, so the update engine and the link-safe file operations are
// run against real links here; a link to a file is shown through an observer that says so.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>

#include "apply_check.hpp"
#include "data_folders.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "link_safe_files.hpp"
#include "markers.hpp"
#include "relaunch.hpp"
#include "unique_resource.hpp"
#include "update_test_environment.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The Linux path of a Windows path, as Wine itself maps it (C: lies in the prefix).
std::wstring unix_path(const fs::path& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const auto to_unix =
        reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (to_unix == nullptr) return path.wstring();
    char* text = to_unix(path.c_str());
    if (text == nullptr) return path.wstring();
    const std::wstring unix = widen(text);
    HeapFree(GetProcessHeap(), 0, text);
    return unix;
}

// Wine starts Linux programs given by a Z: path; its own CreateSymbolicLinkW makes nothing.
void plant_link(const fs::path& target, const fs::path& link) {
    // A Linux program started so is not waited for: its result is polled.
    (void)testing::run_captured(L"Z:\\bin\\ln", {L"-s", L"-n", unix_path(target), unix_path(link)});
    ASSERT_TRUE(testing::wait_until([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }, 10s))
        << "no link at " << narrow(link.wstring());
}

// rm does not follow links; Win32 under Wine cannot remove them, and remove_all goes through.
void remove_with_links(const fs::path& folder) {
    // Only when there is something to remove: a late rm would take what the test makes next.
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    (void)testing::run_captured(L"Z:\\bin\\rm", {L"-rf", unix_path(folder)});
    EXPECT_TRUE(testing::wait_until([&] { return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; }, 10s));
}

std::set<std::string> files_below(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.insert(narrow(fs::relative(entry.path(), folder).wstring()));
    }
    return files;
}

class LinkSafety : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remove_with_links(testing::build_path(KV_SCRATCH_DIR) / widen("links-" + name));
        root = testing::scratch_dir("links-" + name);
        outside = testing::scratch_dir("links-target-" + name);
        fs::create_directories(outside / L"sub");
        ASSERT_TRUE(write_whole_file(outside / L"keep.txt", "keep"));
        ASSERT_TRUE(write_whole_file(outside / L"sub" / L"deep.txt", "deep"));
    }

    void TearDown() override { remove_with_links(root); }

    void expect_outside_intact() const {
        ASSERT_TRUE(fs::exists(outside)) << "the link's target folder was deleted";
        EXPECT_EQ(files_below(outside), (std::set<std::string>{"keep.txt", "sub\\deep.txt"}));
        EXPECT_EQ(testing::read_file(outside / L"keep.txt"), "keep");
    }

    fs::path root, outside;
};

TEST_F(LinkSafety, ATreeIsDeletedAroundALinkWithoutEnteringIt) {
    const fs::path tree = root / L"tree";
    fs::create_directories(tree / L"a" / L"b");
    ASSERT_TRUE(write_whole_file(tree / L"one.txt", "1"));
    ASSERT_TRUE(write_whole_file(tree / L"a" / L"b" / L"two.txt", "2"));
    plant_link(outside, tree / L"a" / L"evil");
    ASSERT_EQ(GetFileAttributesW((tree / L"a" / L"evil").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));

    (void)delete_tree_no_follow(tree);  // a link that cannot be removed keeps its folder
    expect_outside_intact();
    EXPECT_FALSE(path_exists(tree / L"one.txt"));
    EXPECT_FALSE(path_exists(tree / L"a" / L"b"));

    const fs::path plain = root / L"plain";
    fs::create_directories(plain / L"x");
    ASSERT_TRUE(write_whole_file(plain / L"x" / L"f", "f"));
    SetFileAttributesW((plain / L"x" / L"f").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(delete_tree_no_follow(plain));
    EXPECT_FALSE(path_exists(plain));
    EXPECT_TRUE(delete_tree_no_follow(root / L"absent"));
}

TEST_F(LinkSafety, ALinkInThePlaceOfATreeOrFileIsNeverFollowed) {
    plant_link(outside, root / L"link");
    (void)delete_tree_no_follow(root / L"link");
    (void)delete_file_no_follow(root / L"link");
    EXPECT_FALSE(write_file_no_follow(root / L"link", "x"));
    EXPECT_FALSE(rename_file_no_follow(root / L"link", root / L"moved"));
    EXPECT_FALSE(open_folder_no_follow(root / L"link", READ_CONTROL));
    const auto refused = refuse_linked_folders({root, root / L"link", root / L"link" / L"sub"});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "data folder is a link, refusing to use it: " + narrow((root / L"link").wstring()));
    expect_outside_intact();
}

TEST_F(LinkSafety, WritingOverAFileLinkReplacesTheLinkNotItsTarget) {
    plant_link(outside / L"keep.txt", root / L"last-error.txt");
    ASSERT_TRUE(write_file_no_follow(root / L"last-error.txt", "refused\n"));
    EXPECT_EQ(testing::read_file(root / L"last-error.txt"), "refused\n");
    expect_outside_intact();

    ASSERT_TRUE(write_whole_file(root / L"temporary", "new"));
    plant_link(outside / L"keep.txt", root / L"marker");
    ASSERT_TRUE(rename_file_no_follow(root / L"temporary", root / L"marker"));
    EXPECT_EQ(testing::read_file(root / L"marker"), "new");
    EXPECT_FALSE(path_exists(root / L"temporary"));
    expect_outside_intact();

    ASSERT_TRUE(append_file_no_follow(root / L"log", "a\n"));
    ASSERT_TRUE(append_file_no_follow(root / L"log", "b\n"));
    EXPECT_EQ(testing::read_file(root / L"log"), "a\nb\n");
    fs::create_directories(root / L"folder");
    EXPECT_FALSE(write_file_no_follow(root / L"folder", "x"));
    EXPECT_EQ(fs::directory_iterator(root / L"folder"), fs::directory_iterator());
}

// Wine does not flag a link to a file; this observer says what Windows would.
class FileLinkObserver final : public NodeObserver {
public:
    explicit FileLinkObserver(fs::path link) : link_(std::move(link)) {}
    std::optional<NodeFacts> by_name(const fs::path& path) const override {
        auto facts = NodeObserver::by_name(path);
        if (facts && path == link_) facts->reparse_point = true;
        return facts;
    }

private:
    fs::path link_;
};

TEST_F(LinkSafety, AFileLinkIsNeverDeletedThroughAppendedToOrRenamed) {
    const fs::path link = root / L"updater-service.log";
    ASSERT_TRUE(write_whole_file(link, "the target's own bytes"));
    const FileLinkObserver observer(link);

    EXPECT_TRUE(delete_file_no_follow(link, observer));  // left: the handle reached the target
    EXPECT_TRUE(delete_tree_no_follow(link, observer));
    EXPECT_EQ(testing::read_file(link), "the target's own bytes");
    EXPECT_FALSE(rename_file_no_follow(link, root / L"elsewhere", observer));
    EXPECT_FALSE(path_exists(root / L"elsewhere"));

    ASSERT_TRUE(append_file_no_follow(link, "line\n", observer));
    EXPECT_EQ(testing::read_file(link), "line\n") << "the link's target was appended to";
}

// The update engine: links in staging, in staging's place and in the updates folder's place.
class LinkedUpdates : public LinkSafety {
protected:
    void SetUp() override {
        LinkSafety::SetUp();
        updates = root / L"Kestrivon" / L"Client" / L"updates";
        install = root / L"install";
        fs::create_directories(updates);
        fs::create_directories(install / L"lib");
        ASSERT_TRUE(write_whole_file(install / L"Kestrivon-Client.exe", "client v1\n"));
        ASSERT_TRUE(write_whole_file(install / L"lib" / L"readme.txt", "readme v1\n"));
        ASSERT_TRUE(write_whole_file(install / L"lib" / L"data.txt", "data v1\n"));
        station = std::make_unique<testing::RecordedUpdateEnvironment>(updates, install);
    }

    void stage(const char* scenario) {
        testing::copy_tree(testing::update_fixtures_dir() / widen(scenario), updates);
        testing::set_file_age(updates / L"pending-update.json", 3s);
        testing::set_file_age(updates / L"manifest.json.sig", 3s);
    }

    fs::path updates, install;
    std::unique_ptr<testing::RecordedUpdateEnvironment> station;
};

TEST_F(LinkedUpdates, ALinkInsideStagingSurvivesARejectionAndAnApply) {
    for (const char* scenario : {"tampered", "bad-checksum", "good"}) {
        stage(scenario);
        plant_link(outside, updates / L"staging" / widen(std::string("evil-") + scenario));
        (void)run_apply_check(station->environment);
        EXPECT_FALSE(path_exists(updates / L"pending-update.json")) << scenario;
        EXPECT_FALSE(path_exists(updates / L"staging" / L"Kestrivon-Client.exe")) << scenario;
        expect_outside_intact();
    }
    EXPECT_EQ(testing::read_file(install / L"Kestrivon-Client.exe"), "client v2\n");
}

TEST_F(LinkedUpdates, StagingThatIsALinkIsReadButNeverDeleted) {
    stage("good");
    testing::copy_tree(updates / L"staging", outside);
    const std::set<std::string> staged = files_below(outside);
    (void)delete_tree_no_follow(updates / L"staging");
    ASSERT_FALSE(path_exists(updates / L"staging"));
    plant_link(outside, updates / L"staging");
    EXPECT_TRUE(run_apply_check(station->environment));
    EXPECT_EQ(testing::read_file(install / L"Kestrivon-Client.exe"), "client v2\n");
    EXPECT_FALSE(path_exists(updates / L"pending-update.json"));
    EXPECT_EQ(files_below(outside), staged);
}

TEST_F(LinkedUpdates, AnUpdatesFolderThatIsALinkIsNotTouched) {
    testing::copy_tree(testing::update_fixtures_dir() / L"good", outside);
    ASSERT_TRUE(write_whole_file(outside / L"pending-installer.json", "not json"));
    const std::set<std::string> before = files_below(outside);
    (void)delete_tree_no_follow(updates);
    plant_link(outside, updates);

    for (int pass = 0; pass < 2; ++pass) {
        const Status checked = run_apply_check(station->environment);
        ASSERT_FALSE(checked);
        EXPECT_EQ(checked.error(), "data folder is a link, refusing to use it: " + narrow(updates.wstring()));
        EXPECT_FALSE(any_update_pending(station->environment));
    }
    EXPECT_EQ(files_below(outside), before);
    EXPECT_EQ(testing::read_file(install / L"Kestrivon-Client.exe"), "client v1\n");
    EXPECT_TRUE(station->logged.empty());
}

TEST_F(LinkSafety, ClearingPrivateInstallerFoldersLeavesLinkedTargets) {
    const fs::path temp = windows_directory() / L"Temp";
    const fs::path ours = temp / L"Kestrivon-installer-1-2-0";
    remove_with_links(ours);
    remove_with_links(temp / L"Kestrivon-installer-3-4-0");
    fs::create_directories(ours);
    ASSERT_TRUE(write_whole_file(ours / L"setup.exe", "x"));
    plant_link(outside, ours / L"evil");
    plant_link(outside, temp / L"Kestrivon-installer-3-4-0");
    clear_private_installer_folders();
    EXPECT_TRUE(path_exists(temp / L"Kestrivon-installer-3-4-0"));
    expect_outside_intact();
    EXPECT_FALSE(path_exists(ours / L"setup.exe"));
    remove_with_links(temp / L"Kestrivon-installer-3-4-0");
    remove_with_links(ours);
}

std::string canonical_sddl(const wchar_t* sddl) {
    UniqueLocalMemory descriptor;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr));
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor.get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocalMemory owned(text);
    return narrow(text);
}

// Keeps the descriptor a folder was given, as NTFS does; Wine's file system keeps none.
class StoredFolderSecurity final : public FolderSecurityAccess {
public:
    explicit StoredFolderSecurity(std::string initial) : stored(std::move(initial)) {}
    Result<std::string> read(HANDLE) const override { return stored; }
    Status write(HANDLE, PSECURITY_DESCRIPTOR descriptor) const override {
        wchar_t* text = nullptr;
        if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
            return fail("unconvertible");
        }
        const UniqueLocalMemory owned(text);
        stored = narrow(text);
        ++writes;
        return ok();
    }
    mutable std::string stored;
    mutable int writes = 0;
};

TEST_F(LinkSafety, DataFoldersAreMadeAndTheirOwnerAndDaclRepaired) {
    std::vector<std::string> logged;
    const LogSink log = [&](std::string_view line) { logged.emplace_back(line); };
    for (const wchar_t* sddl : {vendor_folder_sddl, shared_data_folder_sddl, logs_folder_sddl}) {
        EXPECT_TRUE(canonical_sddl(sddl).starts_with("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")) << narrow(sddl);
    }
    EXPECT_EQ(canonical_sddl(logs_folder_sddl).find(";;;CO)"), std::string::npos);

    // Missing: made with its descriptor, nothing logged.
    const fs::path made = root / L"Client";
    const Status created = secure_data_folder(made, shared_data_folder_sddl, log);
    ASSERT_TRUE(created) << created.error();
    EXPECT_TRUE(fs::is_directory(made));
    EXPECT_TRUE(folder_security_text(made)) << "the descriptor cannot be read back";

    // A folder a customer made first, with rights of their own, is taken over once.
    const StoredFolderSecurity customers("O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;WD)");
    ASSERT_TRUE(secure_data_folder(made, shared_data_folder_sddl, log, customers));
    EXPECT_EQ(customers.stored, canonical_sddl(shared_data_folder_sddl));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "data folder permissions repaired: " + narrow(made.wstring()) +
                             " was=O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;WD)");
    ASSERT_TRUE(secure_data_folder(made, shared_data_folder_sddl, log, customers));
    EXPECT_EQ(customers.writes, 1);
    EXPECT_EQ(logged.size(), 1u);

    // Where the system keeps no descriptor (Wine), the write is tried but no repair is claimed.
    ASSERT_TRUE(secure_data_folder(made, logs_folder_sddl, log));
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) EXPECT_EQ(logged.size(), 1u);

    // A link in a data folder's place: Wine cannot remove it, so it is refused and left.
    plant_link(outside, root / L"linked");
    const Status refused = secure_data_folder(root / L"linked", shared_data_folder_sddl, log);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("data folder is a link"), std::string::npos) << refused.error();
    expect_outside_intact();
}

}  // namespace
}  // namespace kv
