// Process utilities with Wine's real taskkill.exe and a tasklist.exe stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include "process_termination.hpp"
#include "process_utilities.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

class ProcessUtilities : public ::testing::Test {
protected:
    static void SetUpTestSuite() { testing::install_tasklist_double(); }

    // Starts a copy of the idle program under `image_name`; returns its process id.
    DWORD start_idle(const std::wstring& image_name) {
        const auto folder = testing::scratch_dir("process-utilities");
        const auto copy = folder / image_name;
        EXPECT_TRUE(CopyFileW((testing::doubles_dir() / L"idle-program.exe").c_str(), copy.c_str(), FALSE));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessW(copy.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &startup, &created));
        process_.reset(created.hProcess);
        UniqueHandle thread(created.hThread);
        started_ = created.dwProcessId;
        return created.dwProcessId;
    }

    void TearDown() override {
        if (started_ != 0) testing::end_process(started_);
    }

    UniqueHandle process_;
    DWORD started_ = 0;
};

TEST_F(ProcessUtilities, IsImageRunningMatchesTheNameInAnyCase) {
    start_idle(L"KV-Idle-Probe.exe");
    EXPECT_TRUE(is_image_running("KV-Idle-Probe.exe"));
    EXPECT_TRUE(is_image_running("KV-IDLE-PROBE.EXE"));
    EXPECT_FALSE(is_image_running("KV-Nobody-Runs-This.exe"));
}

TEST_F(ProcessUtilities, KillImageEndsEveryProcessOfTheName) {
    start_idle(L"KV-Idle-Victim.exe");
    kill_image("KV-Idle-Victim.exe");
    EXPECT_EQ(WaitForSingleObject(process_.get(), 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(is_image_running("KV-Idle-Victim.exe"));
}

TEST_F(ProcessUtilities, KillingOrAskingANameWithoutProcessesReturnsQuietly) {
    kill_image("KV-Nobody-Runs-This.exe");
    request_image_exit("KV-Nobody-Runs-This.exe");
    SUCCEED();
}

TEST_F(ProcessUtilities, ImagePathAndCreationTimeOfALiveProcess) {
    const DWORD pid = start_idle(L"KV-Idle-Path.exe");
    const auto path = process_image_path(pid);
    ASSERT_TRUE(path);
    EXPECT_TRUE(path->ends_with("\\process-utilities\\KV-Idle-Path.exe")) << *path;

    FILETIME now_file{};
    GetSystemTimeAsFileTime(&now_file);
    const std::uint64_t now = (static_cast<std::uint64_t>(now_file.dwHighDateTime) << 32) | now_file.dwLowDateTime;
    const auto created = process_creation_time(process_.get());
    ASSERT_TRUE(created);
    EXPECT_LE(*created, now);
    EXPECT_GT(*created, now - 600ull * 10'000'000ull);
}

TEST_F(ProcessUtilities, AnEndedProcessHasNoImagePath) {
    const DWORD pid = start_idle(L"KV-Idle-Gone.exe");
    testing::end_process(pid);
    process_.reset();
    started_ = 0;
    // The system may keep the ended process's record a moment after the last handle closes.
    EXPECT_TRUE(testing::wait_until([&] { return !process_image_path(pid).has_value(); }, 5s));
    EXPECT_FALSE(process_creation_time(nullptr));
}

// KILL's target ends only the process it checked, through the handle it checked it by.
TEST_F(ProcessUtilities, TheKillTargetEndsOnlyTheProcessItChecked) {
    const DWORD pid = start_idle(L"KV-Idle-Kill.exe");
    SystemTerminationTarget unchecked;
    EXPECT_FALSE(unchecked.terminate(pid));
    SystemTerminationTarget checked;
    const auto image = checked.image_path(pid);
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->ends_with("KV-Idle-Kill.exe")) << *image;
    EXPECT_FALSE(checked.terminate(pid + 4)) << "a process other than the checked one was ended";
    EXPECT_EQ(WaitForSingleObject(process_.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(checked.terminate(pid));
    EXPECT_EQ(WaitForSingleObject(process_.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    started_ = 0;
}

}  // namespace
}  // namespace kv
