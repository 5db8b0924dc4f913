// The service log and last-error file on Wine's real file system.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <regex>
#include <thread>

#include "canonical_path.hpp"
#include "data_paths.hpp"
#include "service_log.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using testing::read_file;

std::uint64_t now_seconds() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

TEST(ServiceLog, CreatesTheFolderAndAppendsStampedLines) {
    const auto base = testing::scratch_dir("log-base") / L"not" / L"yet";
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    const auto before = now_seconds();
    service_log("service running");
    service_log("two\nlines");
    const auto after = now_seconds();

    const auto content = read_file(base / L"Kestrivon" / L"Client" / L"logs" / L"updater-service.log");
    ASSERT_TRUE(content);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(*content, match, std::regex(R"(\[(\d+)\] service running\n\[(\d+)\] two\nlines\n)")))
        << *content;
    EXPECT_GE(std::stoull(match[1]), before);
    EXPECT_LE(std::stoull(match[2]), after);
}

TEST(ServiceLog, WithoutProgramDataWritesBelowCProgramData) {
    testing::ScopedEnvironment program_data(L"ProgramData", std::nullopt);
    const auto log = std::filesystem::path(L"C:\\ProgramData\\Kestrivon\\Client\\logs\\updater-service.log");
    std::error_code ignored;
    std::filesystem::remove(log, ignored);
    service_log("unset base");
    const auto content = read_file(log);
    ASSERT_TRUE(content);
    EXPECT_TRUE(content->ends_with("] unset base\n")) << *content;
}

TEST(ServiceLog, ADeletedLogStartsAfreshAndAnOpenReaderDoesNotBlockIt) {
    const auto base = testing::scratch_dir("log-delete");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    const auto log = base / L"Kestrivon" / L"Client" / L"logs" / L"updater-service.log";
    service_log("first");
    std::filesystem::remove(log);
    service_log("second");
    ASSERT_TRUE(read_file(log));
    EXPECT_EQ(read_file(log)->find("first"), std::string::npos);

    // An operator's viewer holding the file open for reading and writing must not lose lines.
    const UniqueFileHandle viewer(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(viewer);
    service_log("third");
    EXPECT_NE(read_file(log)->find("] third\n"), std::string::npos);
}

TEST(ServiceLog, AnUnwritableFolderDropsLinesSilently) {
    const auto base = testing::scratch_dir("log-blocked");
    // A file where the Kestrivon folder should be: nothing below it can be created.
    std::ofstream(base / L"Kestrivon") << "in the way";
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    service_log("lost");
    record_last_error("also lost");
    EXPECT_TRUE(std::filesystem::is_regular_file(base / L"Kestrivon"));
}

TEST(ServiceLog, LinesFromManyThreadsStayWhole) {
    const auto base = testing::scratch_dir("log-threads");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i) service_log("writer=" + std::to_string(t) + " line=" + std::to_string(i));
        });
    }
    for (auto& writer : writers) writer.join();
    const auto content = read_file(base / L"Kestrivon" / L"Client" / L"logs" / L"updater-service.log");
    ASSERT_TRUE(content);
    std::istringstream lines(*content);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[\d+\] writer=\d line=\d+)"))) << line;
        ++count;
    }
    EXPECT_EQ(count, 200);
}

TEST(RecordLastError, KeepsOnlyTheLatestFailureWhileTheLogKeepsBoth) {
    const auto base = testing::scratch_dir("last-error");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    record_last_error("signature verification failed");
    record_last_error("checksum mismatch");
    const auto last = read_file(base / L"Kestrivon" / L"Client" / L"updates" / L"last-error.txt");
    ASSERT_TRUE(last);
    EXPECT_TRUE(std::regex_match(*last, std::regex(R"(\[\d+\] checksum mismatch\n)"))) << *last;
    const auto log = read_file(base / L"Kestrivon" / L"Client" / L"logs" / L"updater-service.log");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("] signature verification failed\n"), std::string::npos);
    EXPECT_NE(log->find("] checksum mismatch\n"), std::string::npos);
}

TEST(InstallDir, IsTheCanonicalFolderOfTheRunningExecutable) {
    const auto folder = install_dir();
    ASSERT_TRUE(folder) << folder.error();
    const auto executable = current_executable();
    ASSERT_TRUE(executable);
    EXPECT_TRUE(folder->wstring().starts_with(L"\\\\?\\")) << narrow(folder->wstring());
    EXPECT_EQ(CompareStringOrdinal(without_extended_prefix(folder->wstring()).c_str(), -1,
                                   executable->parent_path().c_str(), -1, TRUE),
              CSTR_EQUAL);
}

}  // namespace
}  // namespace kv
