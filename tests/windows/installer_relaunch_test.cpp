// The installer branch and the relaunch after it, on Wine, with a signed installer stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>

#include "apply_check.hpp"
#include "canonical_path.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "markers.hpp"
#include "process_utilities.hpp"
#include "relaunch.hpp"
#include "unique_resource.hpp"
#include "update_records.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"
#include "update_test_environment.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string json_string(const std::string& text) { return nlohmann::json(text).dump(); }

class InstallerAndRelaunch : public ::testing::Test {
protected:
    void SetUp() override {
        root = testing::scratch_dir(std::string("installer-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        updates = root / L"updates";
        install = root / L"install";
        fs::create_directories(updates / L"installer");
        fs::create_directories(install);
        ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"idle-program.exe").c_str(), (install / L"Kestrivon-Client.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((testing::update_fixtures_dir() / L"installer" / L"setup.exe").c_str(),
                              (updates / L"installer" / L"setup.exe").c_str(), FALSE));
        station = std::make_unique<testing::RecordedUpdateEnvironment>(updates, install);
    }
    void TearDown() override {
        for (DWORD pid : started) testing::end_process(pid);
    }

    std::string fixture(const wchar_t* name) const {
        return testing::read_file(testing::update_fixtures_dir() / L"installer" / name).value_or("");
    }
    std::string digest() const { return fixture(L"setup.exe.sha256").substr(0, 64); }

    void write_installer_marker(const std::string& path, const std::string& sha256, const std::string& signature,
                                const std::string& args_json = "", std::chrono::milliseconds age = 3s) {
        std::string text = "{\"version\":\"3.0\",\"installer_path\":" + json_string(path) + ",\"sha256\":" +
                           json_string(sha256) + ",\"signature\":" + json_string(signature);
        if (!args_json.empty()) text += ",\"args\":" + args_json;
        text += "}";
        ASSERT_TRUE(write_whole_file(updates / L"pending-installer.json", text));
        testing::set_file_age(updates / L"pending-installer.json", age);
    }
    std::string installer_path_text() const { return narrow((updates / L"installer" / L"setup.exe").wstring()); }

    void write_relaunch(const PendingRelaunch& marker, std::chrono::milliseconds age) {
        ASSERT_TRUE(write_whole_file(updates / L"pending-relaunch.json", serialize_pending_relaunch(marker)));
        testing::set_file_age(updates / L"pending-relaunch.json", age);
    }

    // Starts the idle program from `folder` under `name`; returns its pid and creation time.
    std::pair<DWORD, std::uint64_t> start_idle(const fs::path& folder, const wchar_t* name) {
        fs::create_directories(folder);
        const auto program = folder / name;
        CopyFileW((testing::doubles_dir() / L"idle-program.exe").c_str(), program.c_str(), FALSE);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &created));
        const UniqueHandle process(created.hProcess);
        const UniqueHandle thread(created.hThread);
        started.push_back(created.dwProcessId);
        return {created.dwProcessId, process_creation_time(process.get()).value_or(0)};
    }

    fs::path root, updates, install;
    std::vector<DWORD> started;
    std::unique_ptr<testing::RecordedUpdateEnvironment> station;
    UpdateEnvironment& environment() { return station->environment; }
};

TEST_F(InstallerAndRelaunch, ASignedInstallerIsCopiedPrivatelyStartedAndTheServiceEnds) {
    const auto report = root / L"installer-report.txt";
    testing::ScopedEnvironment report_variable(L"KV_INSTALLER_REPORT", report.wstring());
    std::string upper = digest();
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    write_installer_marker("  " + installer_path_text() + " ", upper + " ", fixture(L"setup.exe.minisig"), R"(["/quiet","x y"])");

    const Status result = run_apply_check(environment());
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(station->ended);
    EXPECT_FALSE(path_exists(updates / L"pending-installer.json"));
    ASSERT_TRUE(testing::wait_until([&] { return testing::read_file(report).has_value(); }, 10s));
    const std::string ran = *testing::read_file(report);
    EXPECT_NE(ran.find("arg=/quiet\narg=x y\n"), std::string::npos) << ran;
    EXPECT_EQ(ran.find("arg=/S"), std::string::npos);

    const auto relaunch = parse_pending_relaunch(testing::read_file(updates / L"pending-relaunch.json").value_or(""));
    ASSERT_TRUE(relaunch) << relaunch.error();
    EXPECT_NE(ran.find("pid=" + std::to_string(relaunch->installer_pid) + "\n"), std::string::npos);
    EXPECT_NE(relaunch->installer_start_time, 0u);
    const std::string temp = narrow((windows_directory() / L"Temp").wstring());
    EXPECT_TRUE(std::regex_match(relaunch->installer_image,
                                 std::regex(std::regex_replace(temp, std::regex(R"([\\.])"), R"(\$&)") +
                                                R"(\\Kestrivon-installer-\d+-\d+-0\\setup\.exe)",
                                            std::regex::icase)))
        << relaunch->installer_image;
    EXPECT_TRUE(station->logged_matching(R"(launching signed installer: version=3\.0 path=.*setup\.exe args=\["/quiet", "x y"\])"));
    EXPECT_TRUE(station->logged_matching(R"(installer update launched \(signed\): 3\.0 pid=\d+ path=.*setup\.exe)"));
    EXPECT_TRUE(station->logged_matching("client and watchdog exited before installer"));
}

TEST_F(InstallerAndRelaunch, TheNextRunWaitsForTheStartedInstallerThenStartsTheClient) {
    testing::ScopedEnvironment installer_seconds(L"KV_INSTALLER_SECONDS", L"4");
    write_installer_marker(installer_path_text(), digest(), fixture(L"setup.exe.minisig"), "[]");
    ASSERT_TRUE(run_apply_check(environment()));
    const auto relaunch = parse_pending_relaunch(testing::read_file(updates / L"pending-relaunch.json").value_or(""));
    ASSERT_TRUE(relaunch) << relaunch.error();
    started.push_back(relaunch->installer_pid);
    const UniqueHandle installer(OpenProcess(SYNCHRONIZE, FALSE, relaunch->installer_pid));
    ASSERT_TRUE(installer);

    // The marker names the installer as the system reports it, whatever letter case the
    // system gives the Windows folder, so the next run knows it as its own and waits.
    station->recorded.clear();
    ASSERT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-relaunch.json"));
    EXPECT_TRUE(station->recorded.empty()) << station->recorded.front();

    ASSERT_EQ(WaitForSingleObject(installer.get(), 10000), WAIT_OBJECT_0);
    ASSERT_TRUE(run_apply_check(environment()));
    EXPECT_FALSE(path_exists(updates / L"pending-relaunch.json"));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(station->logged.back(), match, std::regex(R"(interactive client started after update: version=3\.0 pid=(\d+) .*)")))
        << station->logged.back();
    started.push_back(static_cast<DWORD>(std::stoul(match[1])));
}

TEST_F(InstallerAndRelaunch, WithoutArgumentsTheInstallerRunsSilently) {
    const auto report = root / L"installer-report.txt";
    testing::ScopedEnvironment report_variable(L"KV_INSTALLER_REPORT", report.wstring());
    write_installer_marker(installer_path_text(), digest(), fixture(L"setup.exe.minisig"), "[]");
    ASSERT_TRUE(run_apply_check(environment()));
    ASSERT_TRUE(testing::wait_until([&] { return testing::read_file(report).has_value(); }, 10s));
    EXPECT_NE(testing::read_file(report)->find("arg=/S\n"), std::string::npos);
}

TEST_F(InstallerAndRelaunch, RefusedInstallersAreRemovedAndNothingStarts) {
    fs::create_directories(updates / L"other");
    CopyFileW((updates / L"installer" / L"setup.exe").c_str(), (updates / L"other" / L"setup.exe").c_str(), FALSE);
    const std::string other_path = narrow((updates / L"other" / L"setup.exe").wstring());
    const std::string dotted = narrow((updates / L"installer" / L".." / L"other" / L"setup.exe").wstring());
    const std::string wrong_digest(64, '0');
    const struct {
        const char* name;
        std::string path, sha256, signature, returned, recorded;
    } cases[] = {
        {"outside", other_path, digest(), fixture(L"setup.exe.minisig"), "pending installer path escapes installer dir",
         "pending installer path escapes installer dir"},
        {"through ..", dotted, digest(), fixture(L"setup.exe.minisig"), "pending installer path escapes installer dir",
         "pending installer path escapes installer dir"},
        {"checksum", installer_path_text(), wrong_digest, fixture(L"setup.exe.minisig"), "pending installer checksum mismatch",
         "pending installer checksum mismatch expected=" + wrong_digest + " got=" + digest()},
        {"other key", installer_path_text(), digest(), fixture(L"setup.exe.other.minisig"),
         "pending installer signature rejected: update-verify: signature invalid: The signature was created with a different key than the one provided",
         "pending installer signature rejected: update-verify: signature invalid: The signature was created with a different key than the one provided"},
        {"blank signature", installer_path_text(), digest(), " \n\t", "pending installer has no signature",
         "pending installer has no signature"},
    };
    for (const auto& c : cases) {
        station->recorded.clear();
        write_installer_marker(c.path, c.sha256, c.signature);
        const Status result = run_apply_check(environment());
        ASSERT_FALSE(result) << c.name;
        EXPECT_EQ(result.error(), c.returned) << c.name;
        EXPECT_EQ(station->recorded, (std::vector<std::string>{c.recorded})) << c.name;
        EXPECT_FALSE(path_exists(updates / L"pending-installer.json")) << c.name;
        EXPECT_FALSE(path_exists(updates / L"pending-relaunch.json")) << c.name;
        EXPECT_FALSE(station->ended) << c.name;
    }

    write_installer_marker(narrow((updates / L"installer" / L"missing.exe").wstring()), digest(), fixture(L"setup.exe.minisig"));
    const Status missing = run_apply_check(environment());
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().starts_with("installer canonicalize failed: ")) << missing.error();
    EXPECT_FALSE(path_exists(updates / L"pending-installer.json"));
}

TEST_F(InstallerAndRelaunch, AYoungInstallerMarkerIsLeftAlone) {
    write_installer_marker(installer_path_text(), digest(), fixture(L"setup.exe.minisig"), "", 1s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-installer.json"));
    EXPECT_TRUE(station->logged.empty());
}

TEST_F(InstallerAndRelaunch, AnUnconfirmedInstallerIsAwaitedThirtySecondsThenTheClientStarts) {
    // Dated now: a created_at far in the past would expire the marker by its own claim.
    PendingRelaunch marker{"3.0", "", static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch()).count()), 0, 0};
    write_relaunch(marker, 10s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-relaunch.json"));

    testing::set_file_age(updates / L"pending-relaunch.json", 31s);
    const Status result = run_apply_check(environment());
    ASSERT_TRUE(result) << result.error();
    EXPECT_FALSE(path_exists(updates / L"pending-relaunch.json"));
    EXPECT_TRUE(station->logged_matching(R"(pending relaunch ready: version=3\.0 installer_pid=0 client=.*\\Kestrivon-Client\.exe)"));
    std::smatch match;
    ASSERT_FALSE(station->logged.empty());
    ASSERT_TRUE(std::regex_match(station->logged.back(), match,
                                 std::regex(R"(interactive client started after update: version=3\.0 pid=(\d+) path=.*Kestrivon-Client\.exe)")))
        << station->logged.back();
    started.push_back(static_cast<DWORD>(std::stoul(match[1])));
    EXPECT_TRUE(testing::wait_until([&] { return path_exists(install / L"Kestrivon-Client.exe.started"); }, 10s));
}

TEST_F(InstallerAndRelaunch, WaitsForItsOwnInstallerAndRecordsAStranger) {
    const std::uint64_t now = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    const auto [pid, creation] = start_idle(root / L"private", L"setup.exe");
    const std::string image = narrow((root / L"private" / L"setup.exe").wstring());
    ASSERT_TRUE(testing::wait_until([&] { return process_image_path(pid).has_value(); }, 5s));

    write_relaunch({"3.0", image, now, creation, pid}, 3s);
    EXPECT_TRUE(run_apply_check(environment()));
    EXPECT_TRUE(path_exists(updates / L"pending-relaunch.json")) << "its own installer still runs";
    EXPECT_TRUE(station->recorded.empty());

    write_relaunch({"3.0", image, now, creation + 1, pid}, 3s);
    const Status result = run_apply_check(environment());
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(station->recorded, (std::vector<std::string>{"pending relaunch marker names a process we did not start (creation time " +
                                                  std::to_string(creation) + " != recorded " + std::to_string(creation + 1) +
                                                  "); removing it"}));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(station->logged.back(), match, std::regex(R"(interactive client started after update: version=3\.0 pid=(\d+) .*)")));
    started.push_back(static_cast<DWORD>(std::stoul(match[1])));
}

TEST_F(InstallerAndRelaunch, RelaunchClearsOnlyPrivateInstallerFolders) {
    const fs::path temp = windows_directory() / L"Temp";
    for (const wchar_t* folder : {L"Kestrivon-installer-abc-12", L"Kestrivon-installer-", L"Kestrivon-installer-a_b"}) {
        fs::create_directories(temp / folder / L"inner");
    }
    ASSERT_TRUE(write_whole_file(temp / L"Kestrivon-installer-file", "x"));
    clear_private_installer_folders();
    EXPECT_FALSE(path_exists(temp / L"Kestrivon-installer-abc-12"));
    EXPECT_TRUE(path_exists(temp / L"Kestrivon-installer-"));
    EXPECT_TRUE(path_exists(temp / L"Kestrivon-installer-a_b"));
    EXPECT_TRUE(path_exists(temp / L"Kestrivon-installer-file"));
    fs::remove_all(temp / L"Kestrivon-installer-");
    fs::remove_all(temp / L"Kestrivon-installer-a_b");
    fs::remove(temp / L"Kestrivon-installer-file");
}

TEST_F(InstallerAndRelaunch, ARelaunchWithoutAClientProgramSaysSo) {
    fs::remove(install / L"Kestrivon-Client.exe");
    write_relaunch({"3.0", "", static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                   std::chrono::system_clock::now().time_since_epoch()).count()), 0, 0}, 31s);
    const Status result = run_apply_check(environment());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "pending relaunch client does not exist: " +
                                  narrow((*canonicalize_path(install) / L"Kestrivon-Client.exe").wstring()));
    EXPECT_FALSE(path_exists(updates / L"pending-relaunch.json"));
}

}  // namespace
}  // namespace kv
