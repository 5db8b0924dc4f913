// The client supervision pass against real processes, with the clock, the install folder and
// the launch injected: minutes of silence pass in a moment.
#include <windows.h>

#include <gtest/gtest.h>

#include "client_supervision.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"
#include "../../support/fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::uint32_t own_session() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// A copy of the station client stand-in that does nothing until ended.
struct HangingClient {
    explicit HangingClient(const fs::path& folder) {
        const fs::path program = folder / L"Kestrivon-Client.exe";
        EXPECT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(), program.c_str(), FALSE));
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created{};
        std::wstring line = L"\"" + program.wstring() + L"\" hang";
        EXPECT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
        process.reset(created.hProcess);
        UniqueHandle thread(created.hThread);
        pid = created.dwProcessId;
    }
    ~HangingClient() { testing::end_process(pid); }

    UniqueHandle process;
    std::uint32_t pid = 0;
};

struct Supervision {
    explicit Supervision(fs::path folder) : install(std::move(folder)) {}

    ClientSupervisor make() {
        ClientSupervisionSeams seams;
        seams.clock = &clock;
        seams.install_dir = [this]() -> Result<fs::path> {
            if (!install_known) return fail("current_exe: gone");
            return install;
        };
        seams.console_session = [this] { return console_session; };
        seams.launch = [this](const fs::path& program, const fs::path& folder) -> Result<std::uint32_t> {
            launches.push_back(narrow(program.wstring()) + " in " + narrow(folder.wstring()));
            return 4242u;
        };
        return ClientSupervisor(records, [this](std::string_view line) { log.emplace_back(line); }, seams);
    }

    fs::path install;
    bool install_known = true;
    std::uint32_t console_session = own_session();
    testing::FakeClock clock;
    SupervisionRecords records;
    std::vector<std::string> log;
    std::vector<std::string> launches;
};

TEST(ClientSupervision, AClientThatFallsSilentIsWarnedAtNinetyAndEndedAtOneHundredTwenty) {
    Supervision s(testing::scratch_dir("supervision-hung"));
    HangingClient client(s.install);
    ClientSupervisor supervisor = s.make();
    s.records.heartbeats.record_beat(client.pid, s.clock.now());
    const std::string pid = std::to_string(client.pid);
    for (int second = 0; second < 120; second += 10) {
        supervisor.run_pass();
        if (second < 90) {
            EXPECT_TRUE(s.log.empty()) << second;
        }
        s.clock.advance(10s);
    }
    EXPECT_EQ(s.log, (std::vector<std::string>{"client pid=" + pid + " sent no heartbeat for 90s; waiting 30s more"}));
    EXPECT_EQ(WaitForSingleObject(client.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    supervisor.run_pass();  // 120 s
    ASSERT_EQ(s.log.size(), 2u);
    EXPECT_EQ(s.log[1], "client pid=" + pid + " unresponsive, ending it for a relaunch");
    ASSERT_EQ(WaitForSingleObject(client.process.get(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(client.process.get(), &code);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(s.records.heartbeats.fields().last_beat.count(client.pid), 0u);
    EXPECT_TRUE(s.launches.empty());
    // The next pass finds it gone and starts the client from the install folder.
    s.clock.advance(1s);
    supervisor.run_pass();
    const std::string folder = narrow(s.install.wstring());
    EXPECT_EQ(s.launches, (std::vector<std::string>{folder + "\\Kestrivon-Client.exe in " + folder}));
    EXPECT_EQ(s.log.back(), "supervisor relaunched client pid=4242");
}

TEST(ClientSupervision, AnAnnouncedExitSparesAnUnresponsiveClient) {
    Supervision s(testing::scratch_dir("supervision-announced"));
    HangingClient client(s.install);
    ClientSupervisor supervisor = s.make();
    s.records.heartbeats.record_beat(client.pid, s.clock.now());
    for (int i = 0; i < 12; ++i) {
        supervisor.run_pass();
        s.clock.advance(10s);
    }
    s.records.authorized_exit.announce(s.clock.now() - 5s);
    supervisor.run_pass();  // 120 s, announced 5 s ago: not ended
    EXPECT_EQ(WaitForSingleObject(client.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(s.records.authorized_exit.is_announced());
    s.clock.advance(5s);
    supervisor.run_pass();  // the announcement is 10 s old and the client still runs: it expires, the client ends
    EXPECT_FALSE(s.records.authorized_exit.is_announced());
    EXPECT_EQ(WaitForSingleObject(client.process.get(), 5000), WAIT_OBJECT_0);
}

TEST(ClientSupervision, TheClientsNameElsewhereOrInAnotherSessionIsNotTheClient) {
    Supervision s(testing::scratch_dir("supervision-install"));
    HangingClient stranger(testing::scratch_dir("supervision-elsewhere"));
    // The install folder holds the real file, so the launch is tried.
    ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(),
                          (s.install / L"Kestrivon-Client.exe").c_str(), FALSE));
    ClientSupervisor supervisor = s.make();
    supervisor.run_pass();
    EXPECT_EQ(s.launches.size(), 1u);

    // Its own file, but not in the console session.
    Supervision other_session(testing::scratch_dir("supervision-session"));
    HangingClient client(other_session.install);
    other_session.console_session = own_session() + 1;
    ClientSupervisor second = other_session.make();
    second.run_pass();
    EXPECT_EQ(other_session.launches.size(), 1u);

    // With the install folder unknown, any process of the client's name counts.
    Supervision unknown(s.install);
    unknown.install_known = false;
    ClientSupervisor third = unknown.make();
    third.run_pass();
    EXPECT_TRUE(unknown.launches.empty());
    EXPECT_TRUE(unknown.log.empty());
}

TEST(ClientSupervision, AMissingFileIsReportedAndRetriedEveryTwoSeconds) {
    Supervision s(testing::scratch_dir("supervision-missing"));
    ClientSupervisor supervisor = s.make();
    const std::string expected =
        "supervisor relaunch failed: client not found: " + narrow((s.install / L"Kestrivon-Client.exe").wstring());
    std::vector<int> failed_at;
    for (int second = 0; second <= 6; ++second) {
        const auto before = s.log.size();
        supervisor.run_pass();
        if (s.log.size() > before) {
            EXPECT_EQ(s.log.back(), expected);
            failed_at.push_back(second);
        }
        s.clock.advance(1s);
    }
    EXPECT_EQ(failed_at, (std::vector<int>{0, 2, 4, 6}));
    EXPECT_TRUE(s.launches.empty());
}

TEST(ClientSupervision, AfterAnAnnouncedExitAMissingClientIsLeftAlone) {
    Supervision s(testing::scratch_dir("supervision-exit"));
    ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(),
                          (s.install / L"Kestrivon-Client.exe").c_str(), FALSE));
    ClientSupervisor supervisor = s.make();
    s.records.authorized_exit.announce(s.clock.now());
    for (int i = 0; i < 30; ++i) {
        supervisor.run_pass();
        s.clock.advance(1s);
    }
    EXPECT_TRUE(s.launches.empty());
    EXPECT_TRUE(s.records.authorized_exit.is_announced());
    EXPECT_FALSE(s.records.authorized_exit.fields().exit_pending);
    // A client started by other means ends the announcement at once, since it was seen gone.
    HangingClient client(s.install);
    supervisor.run_pass();
    EXPECT_FALSE(s.records.authorized_exit.is_announced());
}

}  // namespace
}  // namespace kv
