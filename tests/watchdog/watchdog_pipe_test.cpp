// The real watchdog in standalone mode: token file, autostart value, single instance, peer
// check, the line protocol and the authorized exit.
#include <aclapi.h>
#include <sddl.h>

#include "key_filter.hpp"
#include "unicode_case.hpp"
#include "watchdog_fixture.hpp"

namespace kv::testing {
namespace {

// The portable key filter carries its own copies of these numbers.
static_assert(keys::tab == VK_TAB && keys::escape == VK_ESCAPE && keys::left_win == VK_LWIN && keys::right_win == VK_RWIN &&
              keys::f4 == VK_F4 && keys::left_shift == VK_LSHIFT && keys::right_shift == VK_RSHIFT &&
              keys::left_control == VK_LCONTROL && keys::right_control == VK_RCONTROL);
static_assert(keys::key_down == WM_KEYDOWN && keys::key_up == WM_KEYUP && keys::sys_key_down == WM_SYSKEYDOWN &&
              keys::sys_key_up == WM_SYSKEYUP && keys::alt_down_flag == LLKHF_ALTDOWN);

class WatchdogPipeTest : public WatchdogFixture {};

bool has(const std::string& text, const std::string& line) { return text.find(line) != std::string::npos; }

TEST_F(WatchdogPipeTest, ServesTheClientAndExitsOnAnAuthenticatedAdminExit) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created")) << watchdog.out() << watchdog.err();

    // Startup lines in their order.
    const std::string client = narrow(client_exe().wstring());
    const std::regex startup("\\[watchdog\\] Starting\\.\\.\\.\n\\[watchdog\\] Registered in autostart\n\\[watchdog\\] Client exe: " +
                             std::regex_replace(client, std::regex(R"([\\.])"), R"(\$&)") +
                             "\n(.|\n)*\\[watchdog\\] Session token written\n(.|\n)*");
    EXPECT_TRUE(std::regex_match(watchdog.out(), startup)) << watchdog.out();
    EXPECT_EQ(run_value(), watchdog_exe().wstring());

    // The token file: 64 lower-case hex characters and nothing else.
    const auto token = read_file(token_file());
    ASSERT_TRUE(token);
    EXPECT_TRUE(std::regex_match(*token, std::regex("[0-9a-f]{64}"))) << *token;

    const std::string peer = run_peer({L"connect", L"expect-line", L"send PID:+42\\nKIOSK_OFF\\nADMIN_EXIT\\n", L"send AUTH:" +
                                       widen(token->substr(0, 63)) + L"\\n", L"send AUTH:\\n", L"auth", L"send AUTH:wrong\\n",
                                       L"sleep 300", L"send ADMIN_EXIT\\n", L"read-to-end"});
    EXPECT_TRUE(has(peer, "connected\nline WATCHDOG_READY\nrest EXIT_ACK\\n\neof\n")) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);

    const std::string out = watchdog.out();
    const std::string err = watchdog.err();
    for (const char* line : {"Client connected", "Client reported PID: 42", "Pipe session authenticated",
                             "Authorized exit (admin/server)", "Kiosk mode DEACTIVATED", "Kiosk shutdown block DISABLED",
                             "Exiting cleanly"}) {
        EXPECT_TRUE(has(out, std::string("[watchdog] ") + line + "\n")) << line << "\n" << out;
    }
    EXPECT_TRUE(has(err, "[watchdog] Rejected unauthenticated command: KioskOff\n[watchdog] Rejected unauthenticated command: "
                         "AdminExit\n[watchdog] Invalid auth token on pipe session\n[watchdog] Invalid auth token on pipe session\n"))
        << err;
    // A failed AUTH after the good one does not take the session back: it stays authenticated.
    EXPECT_TRUE(has(out, "[watchdog] Pipe session authenticated\n[watchdog] Pipe session authenticated\n[watchdog] Authorized exit"))
        << out;
    EXPECT_TRUE(err.ends_with("[watchdog] Invalid auth token on pipe session\n[watchdog] Invalid auth token on pipe session\n")) << err;
    EXPECT_TRUE(out.ends_with("[watchdog] Exiting cleanly\n")) << out;

    // Started again from the same place: the Run value is left as it is.
    RunningWatchdog& again = start();
    ASSERT_TRUE(again.says("Shutdown blocker window created"));
    EXPECT_FALSE(has(again.out(), "Registered in autostart"));
    EXPECT_NE(read_file(token_file()), token);  // a fresh token every run
}

TEST_F(WatchdogPipeTest, ARunValueWithThePathsBytesStaysWhateverItsStringType) {
    const std::wstring path = watchdog_exe().wstring();
    const struct {
        const char* name;
        DWORD type;
        std::wstring data;  // written with its terminating NUL
        bool rewritten;
    } cases[] = {
        {"expandable string", REG_EXPAND_SZ, path, false},
        {"multi-string", REG_MULTI_SZ, path + L'\0', false},
        {"plain string in another case", REG_SZ, widen(unicode_lower(narrow(path))), true},
        {"binary with the same bytes", REG_BINARY, path, true},
    };
    for (const auto& c : cases) {
        UniqueRegistryKey run;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, run_key_path, 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, run.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(run.get(), autostart_value_name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.c_str()),
                                 static_cast<DWORD>((c.data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
        RunningWatchdog& watchdog = start();
        ASSERT_TRUE(watchdog.says("Shutdown blocker window created")) << c.name;
        EXPECT_EQ(has(watchdog.out(), "Registered in autostart"), c.rewritten) << c.name;
        DWORD type = 0;
        EXPECT_EQ(RegQueryValueExW(run.get(), autostart_value_name, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(type, c.rewritten ? static_cast<DWORD>(REG_SZ) : c.type) << c.name;
        end_process(watchdog.pid);
    }
}

TEST_F(WatchdogPipeTest, FramesLinesHoweverTheyAreWritten) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    const std::string peer = run_peer({L"connect", L"expect-line", L"send \\s\\s\\sKIOSK_ON\\r\\n", L"send kiosk_on\\n",
                                       L"send PID:4294967296\\nPID:\\nSHUTDOWN_GUARD_ON\\nWIN_KEY_GUARD_ON\\n", L"send HEART",
                                       L"sleep 300", L"send BEAT\\nPI", L"sleep 300", L"send D:7\\n", L"auth",
                                       L"send SERVER_SHUTDOWN\\n", L"read-to-end"});
    EXPECT_TRUE(has(peer, "line WATCHDOG_READY\nrest EXIT_ACK\\n\neof\n")) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);
    const std::string out = watchdog.out();
    const std::string err = watchdog.err();
    EXPECT_TRUE(has(out, "[watchdog] Task Manager disabled\n[watchdog] Kiosk mode ACTIVATED\n[watchdog] Kiosk shutdown block ENABLED\n"))
        << out;
    EXPECT_TRUE(has(out, "[watchdog] Shutdown guard ENABLED\n")) << out;
    EXPECT_TRUE(has(out, "[watchdog] Windows key guard ON\n")) << out;
    EXPECT_TRUE(has(out, "[watchdog] Client reported PID: 7\n")) << out;
    EXPECT_TRUE(has(out, "[watchdog] Shutdown force-allowed (authorized)\n")) << out;
    EXPECT_TRUE(has(err, "[watchdog] Unknown message: kiosk_on\n[watchdog] Unknown message: PID:4294967296\n[watchdog] Unknown "
                         "message: PID:\n"))
        << err;
    // Nothing of the lock-down outlives the watchdog in the registry.
    EXPECT_FALSE(task_manager_policy());
}

TEST_F(WatchdogPipeTest, DropsALineLongerThanSixtyFourKiBAndGoesOn) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    // The command at the end of the long line is part of it and never runs.
    const std::string peer = run_peer({L"connect", L"expect-line", L"fill 200000", L"send KIOSK_ON\\n", L"send SHUTDOWN_GUARD_ON\\n",
                                       L"auth", L"send ADMIN_EXIT\\n", L"read-to-end"});
    EXPECT_TRUE(has(peer, "line WATCHDOG_READY\nrest EXIT_ACK\\n\neof\n")) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);
    const std::string err = watchdog.err();
    const std::string reported = "[watchdog] Unknown message: " + std::string(64, 'x') + "...\n";
    EXPECT_TRUE(has(err, reported)) << err;
    EXPECT_EQ(count_occurrences(err, "Unknown message"), 1u) << err;
    EXPECT_TRUE(watchdog.says("Shutdown guard ENABLED"));
    EXPECT_FALSE(has(watchdog.out(), "Kiosk mode ACTIVATED")) << watchdog.out();
}

TEST_F(WatchdogPipeTest, RefusesAPeerThatIsNotTheClientBeforeSayingAnything) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("Shutdown blocker window created"));
    UniqueFileHandle pipe;
    ASSERT_TRUE(wait_until(
        [&] {
            pipe.reset(CreateFileW(L"\\\\.\\pipe\\kestrivon-watchdog", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            return pipe.valid();
        },
        10s));
    const std::string admin = "ADMIN_EXIT\n";
    DWORD written = 0;
    WriteFile(pipe.get(), admin.data(), static_cast<DWORD>(admin.size()), &written, nullptr);
    char buffer[64];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(pipe.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) << std::string(buffer, read);
    EXPECT_TRUE(watchdog.complains("Refused a pipe peer that is not the client: Some(" + std::to_string(GetCurrentProcessId()) + ")"))
        << watchdog.err();
    EXPECT_FALSE(has(watchdog.out(), "Client connected"));
    pipe.reset();

    // The client itself is still served afterwards.
    const std::string peer = run_peer({L"connect", L"expect-line", L"auth", L"send UNINSTALL\\n", L"read-to-end"});
    EXPECT_TRUE(has(peer, "line WATCHDOG_READY\nrest EXIT_ACK\\n\neof\n")) << peer;
    EXPECT_EQ(watchdog.exit_code(), 0u);
    EXPECT_TRUE(has(watchdog.out(), "[watchdog] Uninstall requested\n[watchdog] Autostart entry removed\n")) << watchdog.out();
    EXPECT_FALSE(run_value());
}

TEST_F(WatchdogPipeTest, ASecondInstanceLeavesButAForeignMutexHolderDoesNotStopIt) {
    RunningWatchdog& first = start();
    ASSERT_TRUE(first.says("Shutdown blocker window created"));
    RunningWatchdog& second = start();
    EXPECT_EQ(second.exit_code(), 0u);
    EXPECT_EQ(second.out(), "[watchdog] Starting...\n[watchdog] Client exe: " + narrow(client_exe().wstring()) +
                                "\n[watchdog] Another watchdog instance is already running — exiting\n");
    end_process(first.pid);

    // The name held by this test program, which is no watchdog.
    const UniqueHandle foreign(CreateMutexW(nullptr, FALSE, L"Local\\Kestrivon-Watchdog-Singleton"));
    ASSERT_TRUE(foreign);
    RunningWatchdog& third = start();
    EXPECT_TRUE(third.complains("Singleton name is held by a process that is not a watchdog; continuing"));
    EXPECT_TRUE(third.says("Shutdown blocker window created"));
    EXPECT_TRUE(third.running());
}

TEST_F(WatchdogPipeTest, DeniesTheUserSuspendAndDaclRewriteButNotTermination) {
    RunningWatchdog& watchdog = start();
    ASSERT_TRUE(watchdog.says("suspend and DACL rewrite denied to the signed-in account")) << watchdog.err();
    const UniqueHandle process(OpenProcess(READ_CONTROL, FALSE, watchdog.pid));
    ASSERT_TRUE(process);
    PACL dacl = nullptr;
    UniqueLocalMemory descriptor;
    ASSERT_EQ(GetSecurityInfo(process.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())),
              ERROR_SUCCESS);
    ASSERT_NE(dacl, nullptr);
    std::vector<std::pair<std::string, DWORD>> denied;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
        const auto* deny = static_cast<ACCESS_DENIED_ACE*>(ace);
        UniqueLocalMemory text;
        ASSERT_TRUE(ConvertSidToStringSidA(const_cast<DWORD*>(&deny->SidStart), reinterpret_cast<LPSTR*>(text.put())));
        denied.emplace_back(static_cast<const char*>(text.get()), deny->Mask);
    }
    // The same user runs the test and the watchdog here.
    UniqueHandle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
    std::vector<std::byte> user(256);
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &size));
    UniqueLocalMemory user_sid;
    ASSERT_TRUE(ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, reinterpret_cast<LPSTR*>(user_sid.put())));
    ASSERT_EQ(denied.size(), 2u);
    EXPECT_EQ(denied[0], std::make_pair(std::string(static_cast<const char*>(user_sid.get())), DWORD{0x000C0A6A}));
    EXPECT_EQ(denied[1], std::make_pair(std::string("S-1-3-4"), DWORD{0x000C0000}));
    // Termination and queries are not among the denied rights.
    EXPECT_EQ(denied[0].second & (PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE), 0u);
}

}  // namespace
}  // namespace kv::testing
