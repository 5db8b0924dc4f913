// The service's watchdog supervisor with Wine's real pipes, tokens and processes, a watchdog
// stand-in whose behaviour a file beside it sets, and a clock the test moves.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "canonical_path.hpp"
#include "file_io.hpp"
#include "watchdog_supervisor.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"
#include "../../support/fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class WatchdogSupervisorTest : public ::testing::Test {
protected:
    void SetUp() override {
        install = testing::scratch_dir(std::string("supervisor-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"watchdog-double.exe").c_str(), watchdog().c_str(), FALSE));
        set_mode("beat");
        supervisor = std::make_unique<WatchdogSupervisor>(WatchdogSupervisorDependencies{
            &records, &clock, [this] { return update_pending; }, [this] { return canonicalize_path(install); }});
    }
    void TearDown() override {
        supervisor->stop([](std::string_view) {});
        supervisor.reset();
    }

    fs::path watchdog() const { return install / L"Kestrivon-Watchdog.exe"; }
    void set_mode(const std::string& mode) { ASSERT_TRUE(write_whole_file(watchdog().wstring() + L".mode", mode)); }
    void pass() { supervisor->pass([this](std::string_view line) { lines.emplace_back(line); }); }
    bool logged(const std::string& pattern) const {
        for (const auto& line : lines) {
            if (std::regex_match(line, std::regex(pattern))) return true;
        }
        return false;
    }
    bool process_ended(std::uint32_t pid) {
        const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        return !process || WaitForSingleObject(process.get(), 5000) == WAIT_OBJECT_0;
    }

    fs::path install;
    SupervisionRecords records;
    testing::FakeClock clock;
    bool update_pending = false;
    std::vector<std::string> lines;
    std::unique_ptr<WatchdogSupervisor> supervisor;
};

TEST_F(WatchdogSupervisorTest, HoldsThePipeAndStartsTheWatchdogWithBothHandles) {
    pass();
    EXPECT_EQ(lines.front(), "watchdog pipe held by the service");
    ASSERT_TRUE(logged(R"(service started watchdog pid=\d+ session=1)")) << lines.back();
    EXPECT_EQ(supervisor->managed().value_or("?"), "OK managed");
    const fs::path args = watchdog().wstring() + L".args";
    ASSERT_TRUE(testing::wait_until([&] { return testing::read_file(args).has_value(); }, 10s));
    const std::string command_line = *testing::read_file(args);
    const std::string executable = narrow((*canonicalize_path(install) / L"Kestrivon-Watchdog.exe").wstring());
    EXPECT_TRUE(std::regex_match(command_line, std::regex("\"" + std::regex_replace(executable, std::regex(R"([\\.?])"), R"(\$&)") +
                                                          R"(" --service-pipe=\d+ --service-heartbeat=\d+\n)")))
        << command_line;

    // A beating watchdog is left alone however long it runs.
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(300ms);
        clock.advance(5s);
        pass();
    }
    EXPECT_EQ(lines.size(), 2u) << lines.back();
}

TEST_F(WatchdogSupervisorTest, ASilentWatchdogIsReplacedAfterTwentySeconds) {
    set_mode("silent");
    pass();
    const auto first = supervisor->child_pid();
    ASSERT_TRUE(first);
    clock.advance(19s);
    pass();
    EXPECT_EQ(supervisor->child_pid(), first);
    clock.advance(1s);
    pass();
    EXPECT_TRUE(logged("watchdog pid=" + std::to_string(*first) + " stopped beating; ending it for a restart"));
    EXPECT_TRUE(process_ended(*first));
    ASSERT_TRUE(supervisor->child_pid());
    EXPECT_NE(supervisor->child_pid(), first) << "replaced in the same pass";
}

TEST_F(WatchdogSupervisorTest, WatchdogsThatDieAtOnceAreStartedWithGrowingPauses) {
    set_mode("exit");
    std::vector<int> start_seconds;
    for (int second = 0; second < 60; ++second) {
        const size_t before = lines.size();
        pass();
        for (size_t i = before; i < lines.size(); ++i) {
            if (lines[i].starts_with("service started watchdog")) start_seconds.push_back(second);
        }
        // Let the stand-in end before the next look.
        if (const auto pid = supervisor->child_pid()) process_ended(*pid);
        clock.advance(1s);
    }
    // Each start waits the pause for the quick exits so far: 0, 1, 2, 5, 10, then 30 s.
    EXPECT_EQ(start_seconds, (std::vector<int>{0, 1, 2, 4, 9, 19, 49}));
}

TEST_F(WatchdogSupervisorTest, NoStartWhileAnUpdateIsPendingOrAnExitIsAnnounced) {
    update_pending = true;
    pass();
    EXPECT_FALSE(supervisor->child_pid());
    update_pending = false;
    records.authorized_exit.announce(clock.now());
    pass();
    EXPECT_FALSE(supervisor->child_pid());
    records.authorized_exit.clear();
    pass();
    EXPECT_TRUE(supervisor->child_pid());
}

TEST_F(WatchdogSupervisorTest, StopNeedsAnAnnouncedExit) {
    pass();
    const auto pid = supervisor->child_pid();
    ASSERT_TRUE(pid);
    const Status refused = supervisor->stop_for_authorized_exit([this](std::string_view line) { lines.emplace_back(line); });
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "no authorized exit announced");
    records.authorized_exit.announce(clock.now());
    EXPECT_TRUE(supervisor->stop_for_authorized_exit([this](std::string_view line) { lines.emplace_back(line); }));
    EXPECT_EQ(lines.back(), "watchdog pid=" + std::to_string(*pid) + " ended for an authorized exit");
    EXPECT_TRUE(process_ended(*pid));
    pass();
    EXPECT_FALSE(supervisor->child_pid()) << "not restarted while the exit is announced";
}

TEST_F(WatchdogSupervisorTest, APipeNameTakenByALeftoverWatchdogIsFreedOnce) {
    // A standalone watchdog of the installed program already serves the pipe name.
    UniqueFileHandle squatter(CreateNamedPipeW(watchdog_pipe_name, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                               PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(squatter);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(watchdog().c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &created));
    const UniqueHandle leftover(created.hProcess);
    const UniqueHandle thread(created.hThread);
    std::this_thread::sleep_for(300ms);

    pass();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(watchdog pipe unavailable \(CreateNamedPipe failed \(error \d+\)\); ended 1 leftover watchdog\(s\))")))
        << lines[0];
    EXPECT_EQ(WaitForSingleObject(leftover.get(), 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(supervisor->managed());
    pass();
    EXPECT_EQ(lines.size(), 1u) << "the clean-up and its line come once";
    squatter.reset();
    pass();
    EXPECT_TRUE(logged("watchdog pipe held by the service"));
}

}  // namespace
}  // namespace kv
