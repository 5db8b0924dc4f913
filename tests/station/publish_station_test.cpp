// kestrivon-publish under Wine: a bundle made by `files` and published by `stage` into a
// running station is applied by its service; one signed with another key is never made.
#include <windows.h>

#include <gtest/gtest.h>

#include "file_io.hpp"
#include "station_fixture.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv::testing {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t client_exe[] = L"Kestrivon-Client.exe";

fs::path publish_tool() { return program_dir() / L"kestrivon-publish.exe"; }
fs::path dev_key(const wchar_t* file) { return build_path(KV_DEV_KEY_DIR) / file; }

// The files of a new client version: the stand-in with bytes after its image, and a version file.
fs::path new_client_files(const std::string& version) {
    const fs::path from = scratch_dir("publish-from-" + version);
    const std::string client = read_file(doubles_dir() / L"client" / client_exe).value_or("");
    EXPECT_FALSE(client.empty());
    EXPECT_TRUE(write_whole_file(from / client_exe, client + "kestrivon client " + version));
    EXPECT_TRUE(write_whole_file(from / L"version.txt", version + "\n"));
    return from;
}

std::vector<std::wstring> files_arguments(const fs::path& from, const fs::path& secret_key, const fs::path& out) {
    return {L"files", L"--version", L"2.1.0", L"--from", from.wstring(), L"--secret-key", secret_key.wstring(),
            L"--public-key", dev_key(L"dev-update-key.pub").wstring(), L"--out", out.wstring(),
            // Debian has no minisign for Windows; the stand-in signs as it does.
            L"--minisign", (doubles_dir() / L"minisign-double.exe").wstring()};
}

class PublishToStation : public StationTest {};

TEST_F(PublishToStation, StagedBundleIsAppliedByTheRunningService) {
    install_station("heartbeat 5000 100000\n");
    ASSERT_TRUE(wait_until([&] { return running(client_exe).size() == 1; }, 60s)) << client_log();
    const DWORD client = running(client_exe).front();

    const fs::path from = new_client_files("2.1.0");
    const fs::path bundle = scratch_dir("publish-bundle") / L"bundle";
    const Captured made = run_captured(publish_tool(), files_arguments(from, dev_key(L"dev-update-key.secret"), bundle));
    ASSERT_EQ(made.exit_code, 0u) << made.out << made.err;
    // On the station: the tool checks with the key it was built with, as the service does.
    const Captured staged = run_captured(publish_tool(), {L"stage", L"--bundle", bundle.wstring(), L"--updates", updates().wstring()});
    ASSERT_EQ(staged.exit_code, 0u) << staged.out << staged.err;

    ASSERT_TRUE(wait_for_service_line(R"(update applied \(signed\): 2\.1\.0)", 30s)) << service_log();
    EXPECT_EQ(read_file(station / L"version.txt").value_or(""), "2.1.0\n");
    EXPECT_EQ(file_sha256(station / client_exe), file_sha256(from / client_exe));
    ASSERT_TRUE(wait_until([&] { return running(client_exe).size() == 1 && running(client_exe).front() != client; }, 30s))
        << client_log();

    const Captured status = run_captured(publish_tool(), {L"status", L"--updates", updates().wstring()});
    EXPECT_EQ(status.exit_code, 0u) << status.out << status.err;
    EXPECT_NE(status.out.find("service KestrivonClientUpdater: running (pid "), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("client Kestrivon-Client.exe: running, pid " + std::to_string(running(client_exe).front())),
              std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find("pending-update.json: none"), std::string::npos) << status.out;
}

TEST(PublishTool, BundleSignedWithAnotherKeyIsRefusedBeforeItReachesAStation) {
    const fs::path from = new_client_files("2.2.0");
    const fs::path work = scratch_dir("publish-other-key");
    const fs::path bundle = work / L"bundle";
    const Captured made = run_captured(publish_tool(), files_arguments(from, update_fixtures_dir() / L"keys" / L"other.key", bundle));
    EXPECT_EQ(made.exit_code, 1u) << made.out;
    EXPECT_NE(made.err.find("so a station built with that key would reject this update: update-verify: signature invalid: The "
                            "signature was created with a different key than the one provided"),
              std::string::npos)
        << made.err;
    EXPECT_FALSE(path_exists(bundle));
    EXPECT_FALSE(path_exists(work / L"bundle.kv-partial"));

    // Nothing exists that could be staged.
    const fs::path updates = work / L"updates";
    const Captured staged = run_captured(publish_tool(), {L"stage", L"--bundle", bundle.wstring(), L"--updates", updates.wstring()});
    EXPECT_EQ(staged.exit_code, 1u);
    EXPECT_NE(staged.err.find("not a bundle folder"), std::string::npos) << staged.err;
    EXPECT_FALSE(path_exists(updates));
}

}  // namespace
}  // namespace kv::testing
