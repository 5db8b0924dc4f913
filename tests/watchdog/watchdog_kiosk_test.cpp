// Kiosk keys, the Task Manager policy and the shutdown blocker of the real watchdog under
// Wine. Keys go in with SendInput; this test's own low-level hook, installed before the
// watchdog's, sees only what the watchdog's hook passes on. Wine never sets the Alt flag on
// injected keys, so the Alt combinations are shown by the portable key filter tests alone.
#include <mutex>

#include "watchdog_fixture.hpp"

namespace kv::testing {
namespace {

std::mutex seen_lock;
std::vector<std::pair<DWORD, bool>> seen_keys;  // virtual key, down

LRESULT CALLBACK recording_hook(int code, WPARAM message, LPARAM event) {
    if (code >= 0) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(event);
        const std::lock_guard lock(seen_lock);
        seen_keys.emplace_back(key->vkCode, message == WM_KEYDOWN || message == WM_SYSKEYDOWN);
    }
    return CallNextHookEx(nullptr, code, message, event);
}

class WatchdogKioskTest : public WatchdogFixture {
protected:
    void SetUp() override {
        WatchdogFixture::SetUp();
        hook_thread = std::thread([this] {
            const HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, recording_hook, nullptr, 0);
            hook_thread_id = GetCurrentThreadId();
            hook_ready = hook != nullptr;
            hook_started = true;
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
            if (hook) UnhookWindowsHookEx(hook);
        });
        ASSERT_TRUE(wait_until([&] { return hook_started.load(); }, 5s));
        ASSERT_TRUE(hook_ready.load());
    }
    void TearDown() override {
        PostThreadMessageW(hook_thread_id, WM_QUIT, 0, 0);
        hook_thread.join();
        WatchdogFixture::TearDown();
    }

    // Types the keys (negative: release) and returns what reached this test's hook.
    std::vector<std::pair<DWORD, bool>> type(std::initializer_list<int> keys) {
        {
            const std::lock_guard lock(seen_lock);
            seen_keys.clear();
        }
        for (const int key : keys) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = static_cast<WORD>(key < 0 ? -key : key);
            input.ki.dwFlags = key < 0 ? KEYEVENTF_KEYUP : 0;
            EXPECT_EQ(SendInput(1, &input, sizeof(input)), 1u);
            std::this_thread::sleep_for(30ms);
        }
        std::this_thread::sleep_for(300ms);
        const std::lock_guard lock(seen_lock);
        return seen_keys;
    }

    std::thread hook_thread;
    std::atomic<DWORD> hook_thread_id{0};
    std::atomic<bool> hook_started{false}, hook_ready{false};
};

using Keys = std::vector<std::pair<DWORD, bool>>;
constexpr int A = 'A';

TEST_F(WatchdogKioskTest, KioskModeSwallowsEscapeKeysBlocksShutdownAndUndoesItAllAtSessionEnd) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    ASSERT_NE(watchdog.blocker(), nullptr);
    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION), 1);
    EXPECT_TRUE(watchdog.says("Allowed WM_QUERYENDSESSION"));
    // Without kiosk mode every key passes.
    EXPECT_EQ(type({VK_LWIN, -VK_LWIN}), (Keys{{VK_LWIN, true}, {VK_LWIN, false}}));

    EXPECT_NE(run_peer({L"connect", L"expect-line", L"send KIOSK_ON\\n", L"sleep 200"}).find("line WATCHDOG_READY"), std::string::npos);
    ASSERT_TRUE(watchdog.says("Keyboard hook installed (dedicated message-loop thread)")) << watchdog.out() << watchdog.err();
    ASSERT_TRUE(watchdog.says("Kiosk shutdown block ENABLED"));
    EXPECT_EQ(task_manager_policy(), 1u);

    EXPECT_EQ(type({A, -A}), (Keys{{A, true}, {A, false}}));
    EXPECT_EQ(type({VK_LWIN, -VK_LWIN, VK_RWIN, -VK_RWIN}), Keys{});
    // Ctrl+Esc: only the Esc press is swallowed.
    EXPECT_EQ(type({VK_LCONTROL, VK_ESCAPE, -VK_ESCAPE, -VK_LCONTROL}),
              (Keys{{VK_LCONTROL, true}, {VK_ESCAPE, false}, {VK_LCONTROL, false}}));
    EXPECT_EQ(type({VK_LCONTROL, VK_LSHIFT, VK_ESCAPE, -VK_ESCAPE, -VK_LSHIFT, -VK_LCONTROL}),
              (Keys{{VK_LCONTROL, true}, {VK_LSHIFT, true}, {VK_ESCAPE, false}, {VK_LSHIFT, false}, {VK_LCONTROL, false}}));
    EXPECT_EQ(type({VK_ESCAPE, -VK_ESCAPE}), (Keys{{VK_ESCAPE, true}, {VK_ESCAPE, false}}));

    // Windows asks to end the session: refused while kiosk mode is on.
    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION), 0);
    EXPECT_TRUE(watchdog.says("Blocked WM_QUERYENDSESSION (shutdown protection active)"));
    // The session ends (or not): everything of the lock-down is undone, the watchdog stays.
    EXPECT_EQ(watchdog.send_to_blocker(WM_ENDSESSION, TRUE), 0);
    EXPECT_TRUE(watchdog.says("Keyboard hook removal requested"));
    EXPECT_TRUE(watchdog.says("Keyboard hook removed (thread exit)"));
    EXPECT_FALSE(task_manager_policy());
    EXPECT_EQ(type({VK_LWIN, -VK_LWIN}), (Keys{{VK_LWIN, true}, {VK_LWIN, false}}));
    EXPECT_TRUE(watchdog.running());

    // The lighter guard: Windows keys and Ctrl+Esc, but Ctrl+Shift+Esc passes.
    EXPECT_NE(run_peer({L"connect", L"expect-line", L"send WIN_KEY_GUARD_ON\\n", L"sleep 200"}).find("line WATCHDOG_READY"),
              std::string::npos);
    ASSERT_TRUE(wait_until([&] {
        const std::string out = watchdog.out();
        return out.find("Keyboard hook installed") != out.rfind("Keyboard hook installed");
    }, 10s)) << watchdog.out();
    EXPECT_EQ(type({VK_LWIN, -VK_LWIN}), Keys{});
    EXPECT_EQ(type({VK_LCONTROL, VK_ESCAPE, -VK_ESCAPE, -VK_LCONTROL}),
              (Keys{{VK_LCONTROL, true}, {VK_ESCAPE, false}, {VK_LCONTROL, false}}));
    EXPECT_EQ(type({VK_LCONTROL, VK_LSHIFT, VK_ESCAPE, -VK_ESCAPE, -VK_LSHIFT, -VK_LCONTROL}),
              (Keys{{VK_LCONTROL, true}, {VK_LSHIFT, true}, {VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_LSHIFT, false}, {VK_LCONTROL, false}}));
    EXPECT_EQ(type({A, -A}), (Keys{{A, true}, {A, false}}));

    const std::string peer = run_peer({L"connect", L"expect-line", L"auth", L"send WIN_KEY_GUARD_OFF\\nADMIN_EXIT\\n", L"read-to-end"});
    EXPECT_NE(peer.find("rest EXIT_ACK\\n\neof"), std::string::npos) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);
    EXPECT_TRUE(watchdog.says("Windows key guard OFF"));
}

TEST_F(WatchdogKioskTest, KioskOffNeedsTheTokenAndLeavesNoPolicyBehind) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    (void)run_peer({L"connect", L"expect-line", L"send KIOSK_ON\\nKIOSK_ON\\nSHUTDOWN_GUARD_ON\\nKIOSK_OFF\\n", L"sleep 300"});
    ASSERT_TRUE(watchdog.complains("Rejected unauthenticated command: KioskOff"));
    EXPECT_EQ(task_manager_policy(), 1u);
    // Twice on, one hook thread.
    const std::string out = watchdog.out();
    EXPECT_EQ(out.find("Keyboard hook installed"), out.rfind("Keyboard hook installed")) << out;

    (void)run_peer({L"connect", L"expect-line", L"auth", L"send KIOSK_OFF\\n", L"sleep 300"});
    ASSERT_TRUE(watchdog.says("Kiosk shutdown block DISABLED"));
    EXPECT_FALSE(task_manager_policy());
    // The explicit guard still refuses the end of the session until it is lifted.
    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION), 0);
    (void)run_peer({L"connect", L"expect-line", L"auth", L"send SHUTDOWN_GUARD_OFF\\n", L"sleep 300"});
    ASSERT_TRUE(watchdog.says("Shutdown guard DISABLED"));
    EXPECT_EQ(watchdog.send_to_blocker(WM_QUERYENDSESSION), 1);
    EXPECT_EQ(type({VK_LWIN, -VK_LWIN}), (Keys{{VK_LWIN, true}, {VK_LWIN, false}}));
}

}  // namespace
}  // namespace kv::testing
