// Service-launched mode: the test stands in for the service, holds the watchdog pipe itself
// and starts the watchdog with the pipe handle and a heartbeat write end, as the service does.
#include <thread>

#include "watchdog_fixture.hpp"

namespace kv::testing {
namespace {

class WatchdogServiceModeTest : public WatchdogFixture {
protected:
    void SetUp() override {
        WatchdogFixture::SetUp();
        // One instance, as the service holds it: nobody else can add one.
        held.reset(CreateNamedPipeW(L"\\\\.\\pipe\\kestrivon-watchdog", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
        ASSERT_TRUE(held) << GetLastError();
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        ASSERT_TRUE(CreatePipe(beat_read.put(), beat_write.put(), &inheritable, 0));
        SetHandleInformation(beat_read.get(), HANDLE_FLAG_INHERIT, 0);
    }

    // The service's hand-over: a duplicate of the held pipe, inheritable, under its value.
    RunningWatchdog& start_as_service(HANDLE pipe) {
        UniqueFileHandle duplicate;
        EXPECT_TRUE(DuplicateHandle(GetCurrentProcess(), pipe, GetCurrentProcess(), duplicate.put(), 0, TRUE, DUPLICATE_SAME_ACCESS));
        const auto value = [](HANDLE h) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(h)); };
        RunningWatchdog& watchdog = start({L"--service-pipe=" + value(duplicate.get()), L"--service-heartbeat=" + value(beat_write.get())});
        return watchdog;  // the duplicate closes here, as the service closes its copy
    }

    // The beats that arrived within `span`.
    std::string beats_within(std::chrono::milliseconds span) {
        std::string beats;
        const auto until = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < until) {
            DWORD available = 0;
            if (PeekNamedPipe(beat_read.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
                char bytes[64];
                DWORD read = 0;
                if (ReadFile(beat_read.get(), bytes, sizeof(bytes), &read, nullptr)) beats.append(bytes, read);
            }
            std::this_thread::sleep_for(50ms);
        }
        return beats;
    }

    UniqueFileHandle held, beat_read, beat_write;
};

TEST_F(WatchdogServiceModeTest, FallsSilentWhileItsMainLoopIsBlocked) {
    RunningWatchdog& watchdog = start_as_service(held.get());
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created")) << watchdog.out() << watchdog.err();
    beat_write.reset();
    EXPECT_GE(beats_within(5s).size(), 2u);

    ASSERT_NE(SuspendThread(watchdog.main_thread.get()), static_cast<DWORD>(-1));
    // A check already due when the loop stopped may still beat once; then nothing.
    EXPECT_LE(beats_within(2500ms).size(), 1u);
    EXPECT_EQ(beats_within(6s), "") << "no beat while the loop is blocked";

    ASSERT_NE(ResumeThread(watchdog.main_thread.get()), static_cast<DWORD>(-1));
    EXPECT_GE(beats_within(5s).size(), 1u) << "beats resume with the loop";
}

TEST_F(WatchdogServiceModeTest, BeatsAboutEveryTwoSecondsAndStopsOnceTheServiceLetsGo) {
    RunningWatchdog& watchdog = start_as_service(held.get());
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created")) << watchdog.out() << watchdog.err();
    beat_write.reset();  // the service keeps only the read end
    std::string beats;
    EXPECT_TRUE(wait_until(
        [&] {
            DWORD available = 0;
            if (PeekNamedPipe(beat_read.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
                char bytes[64];
                DWORD read = 0;
                if (ReadFile(beat_read.get(), bytes, sizeof(bytes), &read, nullptr)) beats.append(bytes, read);
            }
            return beats.size() >= 2;
        },
        10s));
    EXPECT_EQ(beats.find_first_not_of('.'), std::string::npos) << beats;

    beat_read.reset();
    EXPECT_TRUE(watchdog.complains("Heartbeat to the service failed; stopping beats", 10s)) << watchdog.err();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string err = watchdog.err();
    EXPECT_EQ(err.find("stopping beats"), err.rfind("stopping beats")) << "said once: " << err;
    EXPECT_FALSE(watchdog.says("Exiting cleanly", std::chrono::milliseconds(100))) << "the watchdog goes on without beats";
}

TEST_F(WatchdogServiceModeTest, ServesTheHandedOverPipeAndRemovesTheAutostartEntry) {
    UniqueRegistryKey run;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, run_key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, run.put(), nullptr), ERROR_SUCCESS);
    const std::wstring stale = L"C:\\elsewhere\\Kestrivon-Watchdog.exe";
    ASSERT_EQ(RegSetValueExW(run.get(), autostart_value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(stale.c_str()),
                             static_cast<DWORD>((stale.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);

    RunningWatchdog& watchdog = start_as_service(held.get());
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created")) << watchdog.out() << watchdog.err();
    EXPECT_TRUE(watchdog.out().starts_with("[watchdog] Starting...\n[watchdog] Autostart entry removed\n")) << watchdog.out();
    EXPECT_FALSE(run_value());

    const std::string peer = run_peer({L"connect", L"expect-line", L"auth", L"send SERVER_EXIT\\n", L"read-to-end"});
    EXPECT_NE(peer.find("line WATCHDOG_READY\nrest EXIT_ACK\\n\n"), std::string::npos) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);
    EXPECT_TRUE(watchdog.out().ends_with("[watchdog] Exiting cleanly\n")) << watchdog.out();

    // While the service holds the name a standalone watchdog cannot make its pipe. It ends
    // once it sees another watchdog of its own image in the session: here the service's next
    // one, which itself never yields, and says so when there is no Run value to remove.
    RunningWatchdog& standalone = start();
    ASSERT_TRUE(standalone.complains("Pipe creation failed: CreateNamedPipe returned INVALID_HANDLE_VALUE")) << standalone.err();
    ASSERT_TRUE(standalone.says("Registered in autostart"));
    ASSERT_EQ(RegDeleteValueW(run.get(), autostart_value_name), ERROR_SUCCESS);
    RunningWatchdog& again = start_as_service(held.get());
    EXPECT_TRUE(wait_until(
        [&] { return std::regex_search(again.err(), std::regex(R"(\[watchdog\] Cannot remove autostart entry: .+ \(os error 2\)\n)")); },
        10s))
        << again.err();
    EXPECT_TRUE(again.complains("Singleton name is held by a process that is not a watchdog; continuing")) << again.err();
    EXPECT_TRUE(again.says("Shutdown blocker window created"));
    EXPECT_TRUE(standalone.says("Another watchdog holds the pipe — exiting")) << standalone.out();
    EXPECT_EQ(standalone.exit_code(), 0u);
    EXPECT_TRUE(again.running());
}

}  // namespace
}  // namespace kv::testing
