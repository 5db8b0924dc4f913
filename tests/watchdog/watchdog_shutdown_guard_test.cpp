// The shutdown blocker: a hidden top-level window of the watchdog's main thread that Windows
// would ask before the session ends. Wine neither asks such a window itself nor implements
// the block reason (error 120), so the answers are shown by sending the message directly and
// the reason's thread through the setter the window is created with.
#include <mutex>

#include "watchdog_fixture.hpp"
#include "watchdog_state.hpp"

namespace kv::testing {
namespace {

class WatchdogShutdownGuardTest : public WatchdogFixture {};

TEST_F(WatchdogShutdownGuardTest, TheBlockerIsAHiddenTopLevelToolWindowOfTheMainThread) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    const HWND window = watchdog.blocker();
    ASSERT_NE(window, nullptr) << "no top-level window of the class";
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetThreadId(watchdog.main_thread.get()));
    wchar_t title[64] = {};
    EXPECT_EQ(GetWindowTextW(window, title, 64), 18);
    EXPECT_EQ(std::wstring(title), L"Kestrivon Watchdog");
    // A popup tool window gets no taskbar button.
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_STYLE) & WS_POPUP);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);

    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), 1);
    (void)run_peer({L"connect", L"expect-line", L"send SHUTDOWN_GUARD_ON\\n", L"sleep 200"});
    ASSERT_TRUE(watchdog.says("Shutdown guard ENABLED"));
    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION), 0);
    EXPECT_TRUE(watchdog.says("Blocked WM_QUERYENDSESSION (shutdown protection active)"));
    EXPECT_FALSE(IsWindowVisible(window));
}

// In this process: the window lives on a thread of its own with a message loop, as on the
// watchdog's main thread, and the switches change on this one, as on the pipe thread.
TEST(BlockerWindow, TheReasonIsSetOnTheWindowsThreadWhoeverRefreshes) {
    std::mutex lock;
    std::vector<std::pair<DWORD, bool>> reasons;  // thread, guard active
    const auto seen = [&] {
        const std::lock_guard guard(lock);
        return reasons;
    };
    std::atomic<DWORD> window_thread{0};
    std::atomic<bool> done{false}, refreshed_in_place{false};
    std::thread owner([&] {
        create_blocker_window([&](HWND, bool active) {
            const std::lock_guard guard(lock);
            reasons.emplace_back(GetCurrentThreadId(), active);
        });
        window_thread = GetCurrentThreadId();
        while (!done) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            Sleep(5);
        }
        // On its own thread the reason is set at once, as at exit before the window goes.
        const std::size_t before = seen().size();
        refresh_shutdown_block();
        refreshed_in_place = seen().size() == before + 1;
        destroy_blocker_window();
    });
    ASSERT_TRUE(wait_until([&] { return window_thread.load() != 0; }, 5s));
    ASSERT_NE(watchdog_state().blocker_window.load(), nullptr);

    auto& state = watchdog_state();
    const struct {
        bool kiosk, guard, active;
    } steps[] = {{true, false, true}, {true, true, true}, {false, true, true}, {false, false, false}};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        state.kiosk_shutdown_block = steps[i].kiosk;
        state.shutdown_guard = steps[i].guard;
        refresh_shutdown_block();
        ASSERT_TRUE(wait_until([&] { return seen().size() == i + 1; }, 5s)) << i;
        EXPECT_EQ(seen()[i], std::make_pair(window_thread.load(), steps[i].active)) << i;
    }
    done = true;
    owner.join();
    EXPECT_TRUE(refreshed_in_place);
    EXPECT_EQ(state.blocker_window.load(), nullptr);
    refresh_shutdown_block();  // without a window: nothing, and nothing breaks
}

}  // namespace
}  // namespace kv::testing
