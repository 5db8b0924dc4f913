// The installed service with the station client stand-in beside it: the service starts it in
// the console session, relaunches it at a growing pace while it keeps dying, answers it on the
// real pipe, and leaves it gone after it announced its exit.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The service installed from a folder of its own, without a watchdog beside it: this test
// watches client supervision alone, with no watchdog monitor restarting the client too.
fs::path station() { return testing::build_path(KV_SCRATCH_DIR) / L"station-client-service"; }
fs::path updater() {
    const fs::path copy = station() / L"Kestrivon-Client-Updater.exe";
    if (!fs::exists(copy)) {
        fs::create_directories(station());
        CopyFileW((testing::program_dir() / L"Kestrivon-Client-Updater.exe").c_str(), copy.c_str(), FALSE);
    }
    return copy;
}
fs::path client() { return station() / L"Kestrivon-Client.exe"; }
fs::path script() { return station() / L"client-double.script"; }
fs::path client_log() { return station() / L"client-double.log"; }

void write_script(const std::string& text) {
    const fs::path aside = script().wstring() + L".tmp";
    {
        std::FILE* file = _wfopen(aside.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    ASSERT_TRUE(MoveFileExW(aside.c_str(), script().c_str(), MOVEFILE_REPLACE_EXISTING));
}

// The time stamps of the service log's lines that contain `part`.
std::vector<long long> stamps_of(const std::string& part) {
    std::vector<long long> stamps;
    const std::string log = testing::read_file(testing::service_log_path()).value_or("");
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find('\n', start);
        const std::string line = log.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (line.find(part) != std::string::npos && line.starts_with("[")) stamps.push_back(std::stoll(line.substr(1)));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return stamps;
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// Ends every stand-in the service started that is still there.
void end_started_doubles() {
    const std::string log = testing::read_file(client_log()).value_or("");
    const std::regex started("pid=(\\d+) started");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), started); it != std::sregex_iterator(); ++it) {
        testing::end_process(static_cast<DWORD>(std::stoul((*it)[1])));
    }
}

TEST(StationClientService, StartsRelaunchesAndStandsAsideAfterAnAnnouncedExit) {
    const auto base = testing::scratch_dir("station-client");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    remove_quietly(testing::service_log_path());
    for (const auto& file : {client(), script(), client_log()}) remove_quietly(file);
    ScopeGuard cleanup([] {
        (void)testing::run_captured(updater(), {L"uninstall"});
        end_started_doubles();
        for (const auto& file : {client(), script(), client_log()}) remove_quietly(file);
    });

    const auto installed = testing::run_captured(updater(), {L"install"});
    ASSERT_EQ(installed.exit_code, 0u) << installed.err;

    // No client file yet: the failure names the full expected path and is retried.
    const std::string not_found = "] supervisor relaunch failed: client not found: ";
    ASSERT_TRUE(testing::wait_until([&] { return stamps_of(not_found).size() >= 2; }, 30s))
        << testing::read_file(testing::service_log_path()).value_or("");
    const std::string log_text = testing::read_file(testing::service_log_path()).value_or("");
    const std::size_t at = log_text.find(not_found);
    const std::string shown = log_text.substr(at + not_found.size(), log_text.find('\n', at) - at - not_found.size());
    EXPECT_TRUE(shown.ends_with("\\station-client-service\\Kestrivon-Client.exe")) << shown;
    const auto failures = stamps_of(not_found);
    EXPECT_GE(failures[1] - failures[0], 2);
    EXPECT_EQ(stamps_of("] privileged pipe: listener starting").size(), 1u);

    // A client that dies at once: relaunched after 0, 1, 1, 2, 5, 10 and 30 s.
    write_script("exit 0\n");
    ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(), client().c_str(), FALSE));
    const std::string relaunched = "] supervisor relaunched client pid=";
    ASSERT_TRUE(testing::wait_until([&] { return stamps_of(relaunched).size() >= 6; }, 40s));
    // The sixth stand-in has read its script once it has ended; only then is the script changed.
    ASSERT_TRUE(testing::wait_until([&] { return testing::count_occurrences(testing::read_file(client_log()).value_or(""), " exit 0\n") >= 6; }, 10s));
    // The seventh launch lives 17 s, beats and then announces its exit.
    write_script("heartbeat 1000 3\nsleep 14000\nsend SUPERVISE\\soff\nexit 0\n");
    ASSERT_TRUE(testing::wait_until([&] { return stamps_of(relaunched).size() >= 7; }, 45s));
    const auto launches = stamps_of(relaunched);
    const long long expected_gaps[] = {1, 1, 2, 5, 10, 30};
    for (std::size_t i = 0; i < 6; ++i) {
        const long long gap = launches[i + 1] - launches[i];
        // Whole-second stamps and passes about a second apart: never sooner, at most a few passes later.
        EXPECT_GE(gap, expected_gaps[i]) << "gap " << i;
        EXPECT_LE(gap, expected_gaps[i] + 3) << "gap " << i;
    }

    ASSERT_TRUE(testing::wait_until([&] { return testing::count_occurrences(testing::read_file(client_log()).value_or(""), " exit 0\n") >= 7; }, 30s));
    const auto exited_at = std::chrono::steady_clock::now();
    EXPECT_EQ(stamps_of("] supervision suppressed for authorized exit").size(), 1u);
    // The last launch lived beyond 15 s, so without the announcement the next would follow within about 2 s.
    std::this_thread::sleep_until(exited_at + 8s);
    EXPECT_EQ(stamps_of(relaunched).size(), 7u);

    const std::string doubles = testing::read_file(client_log()).value_or("");
    EXPECT_EQ(testing::count_occurrences(doubles, " started session=1\n"), 7u) << doubles;
    EXPECT_EQ(testing::count_occurrences(doubles, " reply OK\n"), 4u) << doubles;  // three beats and the announcement
    EXPECT_EQ(testing::count_occurrences(doubles, " error "), 0u) << doubles;
    EXPECT_TRUE(stamps_of("] privileged pipe refused a caller").empty());
}

}  // namespace
}  // namespace kv
