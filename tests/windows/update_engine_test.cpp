// The update engine on Wine's file system with fixtures signed by the real minisign tool.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "apply_check.hpp"
#include "canonical_path.hpp"
#include "file_io.hpp"
#include "markers.hpp"
#include "staged_update.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"
#include "update_test_environment.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class UpdateEngine : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::scratch_dir(std::string("update-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        updates = root / L"updates";
        install = root / L"install";
        fs::create_directories(updates);
        fs::create_directories(install / L"lib");
        write(install / L"Kestrivon-Client.exe", "client v1\n");
        write(install / L"lib" / L"readme.txt", "readme v1\n");
        write(install / L"lib" / L"data.txt", "data v1\n");
        station = std::make_unique<testing::RecordedUpdateEnvironment>(updates, install);
    }

    static void write(const fs::path& path, const std::string& content) { ASSERT_TRUE(write_whole_file(path, content)); }
    std::string installed(const wchar_t* relative) const { return testing::read_file(install / relative).value_or("<missing>"); }

    // Puts a signed fixture in place as a publisher would, settled unless told otherwise.
    void stage(const char* scenario, std::chrono::milliseconds age = 3s) {
        testing::copy_tree(testing::update_fixtures_dir() / widen(scenario), updates);
        testing::set_file_age(updates / L"pending-update.json", age);
        if (path_exists(updates / L"manifest.json.sig")) testing::set_file_age(updates / L"manifest.json.sig", age);
    }

    bool pending_update_cleared() const {
        return !path_exists(updates / L"manifest.json") && !path_exists(updates / L"manifest.json.sig") &&
               !path_exists(updates / L"pending-update.json") && !path_exists(updates / L"staging");
    }

    bool logged_line(const std::string& line) const {
        return std::find(station->logged.begin(), station->logged.end(), line) != station->logged.end();
    }

    void expect_install_untouched() const {
        EXPECT_EQ(installed(L"Kestrivon-Client.exe"), "client v1\n");
        EXPECT_EQ(installed(L"lib\\data.txt"), "data v1\n");
    }

    fs::path root, updates, install;
    std::unique_ptr<testing::RecordedUpdateEnvironment> station;
    UpdateEnvironment& environment() { return station->environment; }
};

TEST_F(UpdateEngine, NothingStagedIsSuccessWithoutALogLine) {
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(station->logged.empty());
}

TEST_F(UpdateEngine, ASignedUpdateReplacesTheFilesAndClearsItself) {
    stage("good");
    const Status applied = run_apply_check(environment());
    ASSERT_TRUE(applied) << applied.error();
    EXPECT_EQ(installed(L"Kestrivon-Client.exe"), "client v2\n");
    EXPECT_EQ(installed(L"lib\\data.txt"), "data v2\n");
    EXPECT_EQ(installed(L"lib\\readme.txt"), "readme v1\n");
    EXPECT_TRUE(logged_line("update applied (signed): 2.0.0"));
    EXPECT_TRUE(station->recorded.empty());
    EXPECT_TRUE(pending_update_cleared());
    // No side-by-side copies are left behind.
    for (const auto& entry : fs::recursive_directory_iterator(install)) {
        EXPECT_EQ(entry.path().wstring().find(L".kv-"), std::wstring::npos) << narrow(entry.path().wstring());
    }
}

TEST_F(UpdateEngine, AYoungMarkerOrSignatureIsLeftToSettle) {
    stage("good", 1s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-update.json"));
    expect_install_untouched();
    testing::set_file_age(updates / L"pending-update.json", 3s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"manifest.json.sig")) << "the signature is still settling";
    testing::set_file_age(updates / L"manifest.json.sig", 3s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_EQ(installed(L"Kestrivon-Client.exe"), "client v2\n");
}

TEST_F(UpdateEngine, AMissingSignatureIsAwaitedThirtySecondsThenRejected) {
    write(updates / L"pending-update.json", "{}");
    testing::set_file_age(updates / L"pending-update.json", 10s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-update.json"));
    testing::set_file_age(updates / L"pending-update.json", 30s);
    const Status rejected = run_apply_check(environment());
    ASSERT_FALSE(rejected);
    EXPECT_EQ(rejected.error(), "pending update has no signature");
    EXPECT_EQ(station->recorded, (std::vector<std::string>{"pending update has no signature; rejecting stale update"}));
    EXPECT_TRUE(pending_update_cleared());
}

TEST_F(UpdateEngine, AMissingManifestIsRejectedTheSameWay) {
    stage("good", 31s);
    fs::remove(updates / L"manifest.json");
    const Status rejected = run_apply_check(environment());
    ASSERT_FALSE(rejected);
    EXPECT_EQ(rejected.error(), "pending update has no manifest");
    EXPECT_EQ(station->recorded, (std::vector<std::string>{"pending update has no manifest; rejecting stale update"}));
    EXPECT_TRUE(pending_update_cleared());
}

TEST_F(UpdateEngine, RefusedUpdatesChangeNothingAndAreNotRetried) {
    const std::string invalid = "update-verify: signature invalid: ";
    const struct {
        const char* scenario;
        std::string returned;
        std::string recorded;
    } cases[] = {
        {"tampered", "signature rejected: " + invalid + "The signature verification failed",
         "SIGNATURE REJECTED: " + invalid + "The signature verification failed"},
        {"comment-changed", "signature rejected: " + invalid + "The signature verification failed",
         "SIGNATURE REJECTED: " + invalid + "The signature verification failed"},
        {"legacy", "signature rejected: " + invalid + "Unexpected signature algorithm",
         "SIGNATURE REJECTED: " + invalid + "Unexpected signature algorithm"},
        {"other-key", "signature rejected: " + invalid + "The signature was created with a different key than the one provided",
         "SIGNATURE REJECTED: " + invalid + "The signature was created with a different key than the one provided"},
        {"bad-checksum", "checksum mismatch: lib/data.txt", "update failed: checksum mismatch: lib/data.txt"},
        {"empty-files", "manifest has no files", "update failed: manifest has no files"},
        {"unsafe-path", "unsafe relative path: ../escape.txt", "update failed: unsafe relative path: ../escape.txt"},
        {"missing-file", "", ""},
    };
    for (const auto& c : cases) {
        station->logged.clear();
        station->recorded.clear();
        stage(c.scenario);
        const Status result = run_apply_check(environment());
        ASSERT_FALSE(result) << c.scenario;
        if (!c.returned.empty()) {
            EXPECT_EQ(result.error(), c.returned) << c.scenario;
            EXPECT_EQ(station->recorded, (std::vector<std::string>{c.recorded})) << c.scenario;
        } else {
            EXPECT_TRUE(result.error().starts_with("required file lib/absent.txt not staged and unreadable: ")) << result.error();
        }
        expect_install_untouched();
        EXPECT_TRUE(pending_update_cleared()) << c.scenario;
        EXPECT_TRUE(run_apply_check(environment())) << "nothing is left to retry after " << c.scenario;
    }
}

TEST_F(UpdateEngine, UnreadableOrBrokenManifestTexts) {
    stage("not-json");
    Status result = run_apply_check(environment());
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with("manifest parse failed: ")) << result.error();

    stage("good");
    write(updates / L"manifest.json.sig", "untrusted comment: x\n\xFF\xFE\n");
    testing::set_file_age(updates / L"manifest.json.sig", 3s);
    result = run_apply_check(environment());
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().starts_with("signature read failed: ")) << result.error();

    stage("good");
    write(updates / L"manifest.json.sig", "one line only\n");
    testing::set_file_age(updates / L"manifest.json.sig", 3s);
    result = run_apply_check(environment());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "signature rejected: update-verify: cannot decode signature: Invalid encoding in minisign data");
    expect_install_untouched();
}

TEST_F(UpdateEngine, AnInstallFolderWithoutTheClientIsNotTrusted) {
    fs::remove(install / L"Kestrivon-Client.exe");
    stage("good");
    const Status result = run_apply_check(environment());
    ASSERT_FALSE(result);
    const auto canonical = canonicalize_path(install);
    EXPECT_EQ(result.error(), "trusted install dir does not contain Kestrivon-Client.exe: " + narrow(canonical->wstring()));
}

TEST_F(UpdateEngine, AReplaceCutShortEarlierIsRepairedBeforeTheInstallFolderIsJudged) {
    // As a service killed between its two renames leaves it: the client moved aside, a copy half written.
    fs::rename(install / L"Kestrivon-Client.exe", install / L"Kestrivon-Client.exe.kv-old-1765000000-77");
    write(install / L"lib" / L"data.txt.kv-new", "data v");
    stage("good");
    const Status applied = run_apply_check(environment());
    ASSERT_TRUE(applied) << applied.error();
    EXPECT_EQ(installed(L"Kestrivon-Client.exe"), "client v2\n");
    EXPECT_TRUE(station->logged_matching(
        R"(interrupted replace repaired: restored .*\\Kestrivon-Client\.exe from .*\\Kestrivon-Client\.exe\.kv-old-1765000000-77)"));
    EXPECT_TRUE(station->logged_matching(R"(interrupted replace repaired: removed new copy .*\\lib\\data\.txt\.kv-new)"));
    for (const auto& entry : fs::recursive_directory_iterator(install)) {
        EXPECT_EQ(entry.path().wstring().find(L".kv-"), std::wstring::npos) << narrow(entry.path().wstring());
    }
}

TEST_F(UpdateEngine, AFailedReplaceKeepsEarlierFilesAndRestoresTheFailingOne) {
    for (int n = 1; n <= 5; ++n) write(install / widen("f" + std::to_string(n) + ".txt"), "file " + std::to_string(n) + " v1\n");
    stage("five");
    // Held open without delete sharing, the third file cannot be moved aside.
    const UniqueFileHandle holder(CreateFileW((install / L"f3.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const Status result = run_apply_check(environment());
    ASSERT_FALSE(result);
    const auto canonical = canonicalize_path(install);
    EXPECT_TRUE(result.error().starts_with("replace failed for " + narrow((*canonical / L"f3.txt").wstring()) + ": "))
        << result.error();
    EXPECT_EQ(installed(L"f1.txt"), "file 1 v2\n");
    EXPECT_EQ(installed(L"f2.txt"), "file 2 v2\n");
    EXPECT_EQ(installed(L"f3.txt"), "file 3 v1\n");
    EXPECT_EQ(installed(L"f4.txt"), "file 4 v1\n");
    EXPECT_EQ(installed(L"f5.txt"), "file 5 v1\n");
    EXPECT_TRUE(pending_update_cleared());
}

TEST_F(UpdateEngine, MarkersThatAreBrokenOrTooOldAreRemovedWithTheirReason) {
    const struct {
        const wchar_t* file;
        MarkerKind kind;
        std::string content;
        std::chrono::milliseconds age;
        bool valid;
        std::string line;  // regex
    } cases[] = {
        {L"pending-update.json", MarkerKind::update, "{}", 0ms, true, ""},
        {L"pending-update.json", MarkerKind::update, "[]", 0ms, false,
         R"(ignoring invalid pending-update\.json marker \(not a JSON object\); removing it)"},
        {L"pending-update.json", MarkerKind::update, "{\"half\": ", 0ms, false,
         R"(ignoring invalid pending-update\.json marker \(parse failed: .*\); removing it)"},
        {L"pending-update.json", MarkerKind::update, "{}", -299s, true, ""},
        {L"pending-update.json", MarkerKind::update, "{}", -301s, false,
         R"(ignoring invalid pending-update\.json marker \(modified time is in the future\); removing it)"},
        {L"pending-update.json", MarkerKind::update, "{}", 901s, false,
         R"(ignoring expired pending-update\.json marker \(age 901s, cap 900s\); removing it)"},
        {L"pending-installer.json", MarkerKind::installer, R"({"version":"1","installer_path":"x","sha256":"y"})", 0ms,
         false, R"(ignoring invalid pending-installer\.json marker \(parse failed: missing field `signature` at line 1 column \d+\); removing it)"},
        {L"pending-relaunch.json", MarkerKind::relaunch,
         R"({"version":"1","installer_pid":0,"created_at":)" +
             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() - 2000) + "}",
         1s, false, R"(ignoring expired pending-relaunch\.json marker \(age 2000s, cap 1800s\); removing it)"},
    };
    for (const auto& c : cases) {
        station->logged.clear();
        station->first_seen.clear(c.kind);
        write(updates / c.file, c.content);
        testing::set_file_age(updates / c.file, c.age);
        EXPECT_EQ(check_marker(environment(), c.kind), c.valid) << c.content;
        if (c.valid) {
            EXPECT_TRUE(station->logged.empty());
            fs::remove(updates / c.file);
        } else {
            ASSERT_EQ(station->logged.size(), 1u) << c.content;
            EXPECT_TRUE(std::regex_match(station->logged[0], std::regex(c.line))) << station->logged[0];
            EXPECT_FALSE(path_exists(updates / c.file));
        }
    }
}

TEST_F(UpdateEngine, AMarkerKeptFreshByItsWriterStillExpiresOnceWatchedTooLong) {
    write(updates / L"pending-update.json", "{}");
    EXPECT_TRUE(check_marker(environment(), MarkerKind::update));
    station->clock.advance(900s);
    write(updates / L"pending-update.json", "{}");
    EXPECT_TRUE(check_marker(environment(), MarkerKind::update));
    station->clock.advance(1s);
    EXPECT_FALSE(check_marker(environment(), MarkerKind::update));
    EXPECT_EQ(station->logged.back(), "ignoring expired pending-update.json marker (age 901s, cap 900s); removing it");
    // Once gone, a new marker starts a fresh watch.
    write(updates / L"pending-update.json", "{}");
    EXPECT_TRUE(check_marker(environment(), MarkerKind::update));
}

TEST_F(UpdateEngine, AnyUpdatePendingRemovesABrokenUpdateMarkerAndSeesTheInstaller) {
    write(updates / L"pending-update.json", "[1]");
    write(updates / L"pending-installer.json", R"({"version":"1","installer_path":"x","sha256":"y","signature":"z"})");
    EXPECT_TRUE(any_update_pending(environment()));
    EXPECT_FALSE(path_exists(updates / L"pending-update.json"));
    EXPECT_EQ(station->logged, (std::vector<std::string>{"ignoring invalid pending-update.json marker (not a JSON object); removing it"}));
    fs::remove(updates / L"pending-installer.json");
    EXPECT_FALSE(any_update_pending(environment()));
}

TEST_F(UpdateEngine, TheRelaunchMarkerIsPublishedWhole) {
    ASSERT_TRUE(write_relaunch_marker(environment(), "3.1", 77, 134000000000000000, "C:\\Windows\\Temp\\x\\setup.exe"));
    const auto text = testing::read_file(updates / L"pending-relaunch.json");
    ASSERT_TRUE(text);
    EXPECT_TRUE(std::regex_match(*text, std::regex("\\{\n  \"version\": \"3\\.1\",\n  \"installer_pid\": 77,\n  \"created_at\": \\d+,\n"
                                                   "  \"installer_start_time\": 134000000000000000,\n"
                                                   "  \"installer_image\": \"C:\\\\\\\\Windows\\\\\\\\Temp\\\\\\\\x\\\\\\\\setup\\.exe\"\n\\}")))
        << *text;
    for (const auto& entry : fs::directory_iterator(updates)) {
        EXPECT_EQ(entry.path().filename().wstring().find(L"pending-relaunch-"), std::wstring::npos);
    }
}

}  // namespace
}  // namespace kv
