// The privileged pipe served inside this test process, with the client's side from the
// station SDK and from the station client stand-in built on it.
#include <windows.h>
#include <aclapi.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <thread>

#include "privileged_pipe.hpp"
#include "pipe_connection.hpp"
#include "privileged_exchange.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What the pipe logged, for the whole test program.
class Lines {
public:
    void add(std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> matching(std::string_view part) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const auto& line : lines_) {
            if (line.find(part) != std::string::npos) found.push_back(line);
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

struct PrinterGate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

// Process ids are multiples of 4 counted up from small numbers: this one is never in use.
constexpr DWORD no_such_pid = 4000000000u;

bool running_under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// One listener per test program: serving threads live as long as the process.
struct Served {
    std::wstring pipe = L"\\\\.\\pipe\\kestrivon-privileged-test-" + std::to_wstring(GetCurrentProcessId());
    fs::path trusted = testing::scratch_dir("pipe-trusted");
    SupervisionRecords records;
    Lines log;
    PrinterGate printer;

    Served() {
        PrivilegedPipeSettings settings;
        settings.pipe_name = pipe;
        settings.records = &records;
        settings.log = [this](std::string_view line) { log.add(line); };
        // This test program may call; every other caller meets the real check against a
        // service that would lie in the trusted folder.
        const fs::path service = trusted / L"Kestrivon-Client-Updater.exe";
        settings.check_caller = [service](std::uint32_t pid) -> Status {
            if (pid == GetCurrentProcessId()) return ok();
            return check_caller_image(pid, service);
        };
        settings.handlers.set_time = [](std::string_view epoch, const CommandCaller&) -> Status {
            if (epoch == "1800000000") return ok();
            return fail("epoch is not a number");
        };
        settings.handlers.dns_policy = [](bool on, const CommandCaller&) -> Result<std::uint32_t> { return on ? 8u : 0u; };
        settings.handlers.watchdog_stop = [this](const CommandCaller&) -> Status {
            if (!records.authorized_exit.is_announced()) return fail("no authorized exit announced");
            return ok();
        };
        settings.handlers.virtual_printer_job = [this](const LogSink&) {
            std::unique_lock lock(printer.mutex);
            printer.opened.wait(lock, [this] { return printer.open; });
        };
        settings.handlers.web_filter_job = [](const LogSink& log) { log("web filter job ran"); };
        start_privileged_pipe(std::move(settings));
        testing::wait_until([&] { return WaitNamedPipeW(pipe.c_str(), 0) || GetLastError() == ERROR_SEM_TIMEOUT; }, 10s);
    }
};

Served& served() {
    static Served* instance = new Served();
    return *instance;
}

// A connection in message mode, as a client makes it, with its steps apart.
station::Outcome<station::PipeConnection> connect(const std::wstring& pipe = served().pipe) {
    auto connection = station::PipeConnection::open(pipe, 10s);
    if (connection.ok()) {
        if (station::Answer mode = connection->use_message_mode(); !mode.ok()) return mode;
    }
    return connection;
}

// The reply exactly as written, LF included.
std::string exchange(std::string_view request) {
    auto connection = connect();
    if (!connection.ok()) return "connect: " + connection.failure().text;
    if (station::Answer written = connection->write(request, 10s); !written.ok()) return "write: " + written.text;
    std::string reply;
    const station::Answer read = connection->read_message(reply, 10s);
    return read.ok() ? reply : "read: " + read.text;
}

station::Answer send_request(std::string_view request, const std::wstring& pipe, std::chrono::milliseconds busy_timeout = 5s) {
    station::Settings settings;
    settings.privileged_pipe = pipe;
    settings.busy_timeout = busy_timeout;
    return station::privileged_exchange(request, settings);
}

void expect_one_line(const std::string& reply, const std::string& text, std::string_view request) {
    EXPECT_EQ(reply, text + "\n") << request;
    EXPECT_EQ(std::count(reply.begin(), reply.end(), '\n'), 1) << request;
    EXPECT_EQ(reply.find('\r'), std::string::npos) << request;
}

TEST(PrivilegedPipe, EveryRowOfTheCommandTable) {
    const struct {
        std::string_view request;
        std::string reply;
    } rows[] = {
        {"PING", "OK"},
        {"PING and two", "OK"},
        {"HEARTBEAT", "OK"},
        {"KILL", "ERR KILL needs a pid"},
        {"kill 12", "ERR unknown command 'kill'"},
        {"KILL 0", "ERR refusing to kill self"},
        {"KILL +", "ERR pid is not a number"},
        {"SETTIME", "ERR SETTIME needs an epoch"},
        {"SETTIME 1800000000", "OK"},
        {"SETTIME soon", "ERR epoch is not a number"},
        {"DNSPOLICY", "ERR DNSPOLICY needs on or off"},
        {"DNSPOLICY on", "OK 8"},
        {"DNSPOLICY off", "OK 0"},
        {"DNSPOLICY ON", "ERR DNSPOLICY mode must be on or off, got 'ON'"},
        {"WATCHDOG managed", "ERR watchdog not managed by the service"},
        {"WATCHDOG", "ERR WATCHDOG mode must be managed or stop, got ''"},
        {"WATCHDOG stop", "ERR no authorized exit announced"},
        {"SUPERVISE", "ERR SUPERVISE needs off"},
        {"SUPERVISE Off", "ERR SUPERVISE mode must be off, got 'Off'"},
        {"SUPERVISE off", "OK"},
        {"WATCHDOG stop", "OK"},
        {"VPRINTER", "ERR VPRINTER mode must be ensure, got ''"},
        {"VPRINTER ensure", "OK queued"},
        {"VPRINTER ensure", "OK in progress"},
        {"WEBFILTER", "ERR WEBFILTER mode must be ensure, got ''"},
        {"WEBFILTER stop", "ERR WEBFILTER mode must be ensure, got 'stop'"},
        {"WEBFILTER ensure", "OK queued"},
        {"  \r\n \t\n", "ERR empty request"},
        {"STATUS", "ERR unknown command 'STATUS'"},
        {"\r\nPING\r\n", "OK"},
    };
    served().records.authorized_exit.clear();
    for (const auto& row : rows) expect_one_line(exchange(row.request), row.reply, row.request);

    const auto beats = served().records.heartbeats.fields().last_beat;
    EXPECT_EQ(beats.count(GetCurrentProcessId()), 1u);
    EXPECT_TRUE(served().records.authorized_exit.is_announced());
    EXPECT_EQ(served().log.matching("supervision suppressed for authorized exit").size(), 1u);
    EXPECT_TRUE(testing::wait_until([] { return !served().log.matching("web filter job ran").empty(); }, 5s));
    {
        std::lock_guard lock(served().printer.mutex);
        served().printer.open = true;
    }
    served().printer.opened.notify_all();
    served().records.authorized_exit.clear();
}

TEST(PrivilegedPipe, ARequestFillingTheBufferIsReadAndOneByteMoreIsRefused) {
    std::string full = "PING";
    full.resize(512, ' ');
    expect_one_line(exchange(full), "OK", "512 bytes");
    std::string longer = full + " ";
    expect_one_line(exchange(longer), "ERR read failed", "513 bytes");
}

TEST(PrivilegedPipe, ASilentClientIsAnsweredAfterFiveSeconds) {
    auto connection = connect();
    ASSERT_TRUE(connection.ok()) << connection.failure().text;
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    const station::Answer read = connection->read_message(reply, 10s);
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(read.ok()) << read.text;
    expect_one_line(reply, "ERR caller sent no request before the read timeout", "silence");
    EXPECT_GE(waited, 4900ms);
    EXPECT_LE(waited, 7s);
}

TEST(PrivilegedPipe, OneReplyPerConnectionAndTheInstanceLetGoWithinTwoSeconds) {
    auto connection = connect();
    ASSERT_TRUE(connection.ok()) << connection.failure().text;
    ASSERT_TRUE(connection->write("PING", 10s).ok());
    std::string first;
    ASSERT_TRUE(connection->read_message(first, 10s).ok());
    ASSERT_EQ(first, "OK\n");
    // Keeping our end open: the service waits for us at most 2 s, then disconnects.
    const auto start = std::chrono::steady_clock::now();
    (void)connection->write("PING", 10s);
    std::string second;
    const station::Answer read = connection->read_message(second, 10s);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(read.status, KV_ERR_CLOSED) << second;
    EXPECT_LE(waited, 4s);
}

TEST(PrivilegedPipe, ARequestLongerThanTheLimitIsRefusedByTheClientSide) {
    const station::Answer refused = send_request(std::string(513, 'A'), served().pipe);
    EXPECT_EQ(refused.status, KV_ERR_TOO_LONG) << refused.text;
    EXPECT_EQ(send_request("PING x", served().pipe).text, "OK");
}

// Runs the stand-in from `folder` under `file_name` with a script; returns its log.
std::string run_double(const fs::path& folder, const wchar_t* file_name, std::vector<std::wstring> script) {
    fs::create_directories(folder);
    const fs::path program = folder / file_name;
    EXPECT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(), program.c_str(), FALSE));
    std::error_code ignored;
    fs::remove(folder / L"client-double.log", ignored);
    script.insert(script.begin(), L"pipe " + served().pipe);
    const auto run = testing::run_captured(program, script);
    EXPECT_EQ(run.exit_code, 0u);
    return testing::read_file(folder / L"client-double.log").value_or("");
}

// Whether the stand-in's log holds a reply line.
bool answered(const std::string& log) { return std::regex_search(log, std::regex(R"(pid=\d+ reply )")); }

TEST(PrivilegedPipe, OnlyTheClientBesideTheServiceIsAnswered) {
    (void)served();
    const auto before = served().log.matching("privileged pipe refused a caller: ").size();

    const std::string trusted = run_double(served().trusted, L"Kestrivon-Client.exe", {L"send PING", L"heartbeat 10 1"});
    EXPECT_NE(trusted.find(" reply OK\n"), std::string::npos) << trusted;
    EXPECT_EQ(served().log.matching("privileged pipe refused a caller: ").size(), before);

    const fs::path elsewhere = testing::scratch_dir("pipe-stranger");
    const std::string stranger = run_double(elsewhere, L"Kestrivon-Client.exe", {L"send PING"});
    EXPECT_FALSE(answered(stranger)) << stranger;
    // The server may drop the stranger before or after its request went out: either way the
    // client sees the connection closed without a reply.
    EXPECT_NE(stranger.find(" error the service closed the connection without a reply"), std::string::npos) << stranger;
    const auto refused = served().log.matching("privileged pipe refused a caller: ");
    ASSERT_EQ(refused.size(), before + 1);
    EXPECT_EQ(refused.back(), "privileged pipe refused a caller: caller not authorized: " +
                                  narrow((elsewhere / L"Kestrivon-Client.exe").wstring()));

    const std::string renamed = run_double(served().trusted, L"Kestrivon-Helper.exe", {L"send PING"});
    EXPECT_FALSE(answered(renamed)) << renamed;
    EXPECT_EQ(served().log.matching("privileged pipe refused a caller: ").size(), before + 2);
}

TEST(PrivilegedPipe, TheClientsNameInAnotherLetterCaseIsAccepted) {
    // A folder of its own, so the file really carries the other spelling.
    const fs::path folder = testing::scratch_dir("pipe-case");
    const fs::path service = served().trusted / L"Kestrivon-Client-Updater.exe";
    EXPECT_EQ(check_caller_image(GetCurrentProcessId(), folder / L"x.exe").error().rfind("caller not authorized: ", 0), 0u);
    const fs::path program = folder / L"KESTRIVON-client.EXE";
    ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(), program.c_str(), FALSE));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    std::wstring line = L"\"" + program.wstring() + L"\" hang";
    ASSERT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
    const UniqueHandle process(created.hProcess), thread(created.hThread);
    EXPECT_TRUE(check_caller_image(created.dwProcessId, folder / L"Kestrivon-Client-Updater.exe"));
    EXPECT_TRUE(check_caller_image(created.dwProcessId, fs::path(narrow(folder.wstring()) + "\\kestrivon-client-updater.exe")));
    const Status other = check_caller_image(created.dwProcessId, service);
    EXPECT_FALSE(other);
    testing::end_process(created.dwProcessId);
    EXPECT_EQ(check_caller_image(no_such_pid, folder / L"u.exe").error(), "caller image unreadable");
    EXPECT_EQ(check_caller_image(GetCurrentProcessId(), fail("Access is denied. (os error 5)")).error(),
              "current_exe failed: Access is denied. (os error 5)");
    EXPECT_EQ(check_caller_image(GetCurrentProcessId(), fs::path(L"u.exe")).error(), "service has no parent directory");
}

// Starts a copy of the idle program under another name; returns its process information.
PROCESS_INFORMATION start_named(const fs::path& folder, const wchar_t* name) {
    const fs::path program = folder / name;
    EXPECT_TRUE(CopyFileW((testing::doubles_dir() / L"idle-program.exe").c_str(), program.c_str(), FALSE));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    std::wstring line = L"\"" + program.wstring() + L"\"";
    EXPECT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
    return created;
}

TEST(PrivilegedPipe, KillEndsOrdinaryProcessesAndRefusesProtectedOnes) {
    const fs::path folder = testing::scratch_dir("pipe-kill");
    const struct {
        const wchar_t* name;
        std::string refusal;  // empty: ended
        bool plus_sign;
    } cases[] = {
        {L"game.exe", "", false},
        {L"Kestrivon-Client2.exe", "", true},
        {L"svchost2.exe", "", false},
        {L"my-explorer.exe", "", false},
        {L"EXPLORER.EXE", "refusing to kill system process 'EXPLORER'", false},
        {L"Kestrivon-Client.exe", "refusing to kill Kestrivon process 'Kestrivon-Client'", false},
        {L"KESTRIVON.exe", "refusing to kill Kestrivon process 'KESTRIVON'", false},
        {L"spoolsv.exe", "refusing to kill system process 'spoolsv'", false},
    };
    for (const auto& c : cases) {
        const PROCESS_INFORMATION started = start_named(folder, c.name);
        const UniqueHandle process(started.hProcess), thread(started.hThread);
        const std::string pid = std::to_string(started.dwProcessId);
        const std::string reply = exchange("KILL " + std::string(c.plus_sign ? "+" : "") + pid);
        if (c.refusal.empty()) {
            expect_one_line(reply, "OK " + pid, narrow(c.name));
            EXPECT_EQ(WaitForSingleObject(process.get(), 5000), WAIT_OBJECT_0) << narrow(c.name);
            DWORD code = 99;
            GetExitCodeProcess(process.get(), &code);
            EXPECT_EQ(code, 0u) << narrow(c.name);
            const std::string stem = narrow(c.name).substr(0, narrow(c.name).rfind('.'));
            EXPECT_EQ(served().log.matching("privileged kill ok pid=" + pid + " name=" + stem).size(), 1u);
        } else {
            expect_one_line(reply, "ERR " + c.refusal, narrow(c.name));
            EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << narrow(c.name);
            testing::end_process(started.dwProcessId);
        }
    }
    expect_one_line(exchange("KILL " + std::to_string(GetCurrentProcessId())), "ERR refusing to kill self", "own pid");
    expect_one_line(exchange("KILL " + std::to_string(no_such_pid)), "ERR target not found", "no such process");
    for (const char* argument : {"-42", "+", "42x", "4294967296"}) {
        expect_one_line(exchange(std::string("KILL ") + argument), "ERR pid is not a number", argument);
    }
}

struct Usage {
    std::size_t handles = 0;
    SIZE_T memory = 0;
};

// Wine answers GetProcessHandleCount with 0, so the handle table is probed slot by slot.
std::size_t open_handles() {
    std::size_t count = 0;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

Usage usage() {
    Usage u;
    u.handles = open_handles();
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
    // Wine leaves the private-bytes counter at 0; the pagefile figure is the same quantity there.
    u.memory = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    std::printf("counters: private %zu pagefile %zu working set %zu\n", static_cast<std::size_t>(counters.PrivateUsage),
                static_cast<std::size_t>(counters.PagefileUsage), static_cast<std::size_t>(counters.WorkingSetSize));
    return u;
}

TEST(PrivilegedPipe, FourBusyClientsGetOnlyCorrectRepliesAndLeaveNothingBehind) {
    const auto load = [](std::chrono::milliseconds duration, std::atomic<int>& good, std::atomic<int>& bad) {
        std::vector<std::thread> clients;
        for (int c = 0; c < 4; ++c) {
            clients.emplace_back([&, c, duration] {
                const auto end = std::chrono::steady_clock::now() + duration;
                for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
                    const bool beat = (i + c) % 2 == 0;
                    (exchange(beat ? "HEARTBEAT" : "PING") == "OK\n" ? good : bad)++;
                }
            });
        }
        for (auto& client : clients) client.join();
    };
    std::atomic<int> good = 0, bad = 0;
    load(1s, good, bad);  // warm-up: thread stacks, lazily made buffers
    const Usage before = usage();
    good = 0;
    load(6s, good, bad);
    std::this_thread::sleep_for(500ms);
    const Usage after = usage();
    EXPECT_EQ(bad, 0);
    EXPECT_GT(good, 40);
    std::printf("load: %d replies in 6 s; open handles %zu -> %zu; memory %zu -> %zu\n", good.load(), before.handles,
                after.handles, static_cast<std::size_t>(before.memory), static_cast<std::size_t>(after.memory));
    // A leak per request would show in the hundreds; a few handles of threads still ending are allowed.
    EXPECT_LE(after.handles, before.handles + 8);
    EXPECT_GT(after.memory, 0u);
    EXPECT_LE(after.memory, before.memory + 4 * 1024 * 1024);
}

TEST(PrivilegedPipe, InstancesCarryTheirSecurityAndTheFirstInstanceFlag) {
    const std::wstring name = L"\\\\.\\pipe\\kestrivon-instance-test-" + std::to_wstring(GetCurrentProcessId());
    auto first = create_privileged_pipe_instance(name, true);
    ASSERT_TRUE(first) << first.error();
    const auto again = create_privileged_pipe_instance(name, true);
    if (running_under_wine()) {
        std::printf("first-instance flag with the name taken: %s\n", again ? "accepted (Wine)" : again.error().c_str());
    } else {
        ASSERT_FALSE(again);
        EXPECT_EQ(again.error(), "CreateNamedPipe failed (error 5)");
    }
    auto second = create_privileged_pipe_instance(name, false);
    EXPECT_TRUE(second) << second.error();

    PSECURITY_DESCRIPTOR raw = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetSecurityInfo(first->get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &raw),
              static_cast<DWORD>(ERROR_SUCCESS));
    const UniqueLocalMemory descriptor(raw);
    wchar_t* text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    const UniqueLocalMemory text_owner(text);
    const std::string sddl = narrow(text);
    // The system may store generic rights mapped to the pipe's own; the trustees and their order stay.
    EXPECT_TRUE(sddl.find(";;;SY)") < sddl.find(";;;BA)") && sddl.find(";;;BA)") < sddl.find(";;;IU)")) << sddl;
    EXPECT_EQ(std::count(sddl.begin(), sddl.end(), '('), 3) << sddl;
    std::printf("pipe DACL: %s\n", sddl.c_str());

    // Signed-in users may talk on the pipe but never create an instance of it.
    ACCESS_ALLOWED_ACE* user_ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 2, reinterpret_cast<void**>(&user_ace)));
    const ACCESS_MASK rights = user_ace->Mask;
    EXPECT_EQ(rights & FILE_CREATE_PIPE_INSTANCE, 0u) << std::hex << rights;
    EXPECT_EQ(rights & (FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE),
              static_cast<ACCESS_MASK>(FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE))
        << std::hex << rights;
    EXPECT_EQ(rights, privileged_pipe_user_rights);
}

TEST(PrivilegedPipe, TheListenerRetriesWhileAnotherOwnsTheNameThenServes) {
    const std::wstring name = L"\\\\.\\pipe\\kestrivon-retry-test-" + std::to_wstring(GetCurrentProcessId());
    auto squatter = create_privileged_pipe_instance(name, true);
    ASSERT_TRUE(squatter) << squatter.error();
    auto log = std::make_shared<Lines>();
    auto records = new SupervisionRecords();  // serving threads outlive this test
    PrivilegedPipeSettings settings;
    settings.pipe_name = name;
    settings.records = records;
    settings.log = [log](std::string_view line) { log->add(line); };
    settings.check_caller = [](std::uint32_t) { return ok(); };
    start_privileged_pipe(std::move(settings));
    ASSERT_TRUE(testing::wait_until([&] { return !log->matching("privileged pipe error: ").empty(); }, 5s));
    // Windows refuses the first instance (access denied); Wine ignores the flag and refuses
    // the fifth instance instead (all instances busy).
    const std::string error = log->matching("privileged pipe error: ").front();
    EXPECT_TRUE(error == "privileged pipe error: CreateNamedPipe failed (error 5)" ||
                error == "privileged pipe error: CreateNamedPipe failed (error 231)")
        << error;
    EXPECT_EQ(log->matching("privileged pipe: listener starting").size(), 1u);
    squatter->reset();
    // The listener tries again 5 s after its failure; until then the name may not exist.
    station::Answer reply = station::answer(KV_ERR_NO_PIPE, "not tried");
    testing::wait_until([&] { return (reply = send_request("PING", name, 1s)).ok(); }, 10s);
    EXPECT_EQ(reply.text, "OK");
}

}  // namespace
}  // namespace kv
