// The SDK's C calls against pipe servers of this test that misbehave on purpose: busy,
// silent, closing, answering nonsense. Time-outs are the options' few hundred milliseconds.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "file_io.hpp"
#include "kestrivon_station.h"
#include "unique_resource.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::wstring unique_pipe(const wchar_t* what) {
    static std::atomic<int> counter = 0;
    return L"\\\\.\\pipe\\kv-sdk-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + what + L"-" + std::to_wstring(++counter);
}

// Serves one client at a time on `name` with `handler`, until destroyed.
class TestServer {
public:
    using Handler = std::function<void(HANDLE pipe)>;

    TestServer(std::wstring name, bool message_mode, Handler handler) : name_(std::move(name)) {
        const DWORD mode = message_mode ? PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE : PIPE_TYPE_BYTE | PIPE_READMODE_BYTE;
        // One instance, made before the constructor returns, so the name exists for the test at once.
        instance_.reset(CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX, mode | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
        EXPECT_TRUE(instance_) << GetLastError();
        thread_ = std::thread([this, handler = std::move(handler)] {
            while (!stopping_) {
                if (!ConnectNamedPipe(instance_.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
                if (stopping_) break;
                ++connections_;
                handler(instance_.get());
                FlushFileBuffers(instance_.get());
                DisconnectNamedPipe(instance_.get());
            }
            finished_ = true;
        });
    }
    ~TestServer() {
        stopping_ = true;
        // A client of our own ends the wait for one, once the instance listens again.
        while (!finished_) {
            const UniqueFileHandle wake(CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            std::this_thread::sleep_for(10ms);
        }
        thread_.join();
    }

    const std::wstring& name() const { return name_; }
    int connections() const { return connections_; }

private:
    std::wstring name_;
    UniqueFileHandle instance_;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> finished_ = false;
    std::atomic<int> connections_ = 0;
    std::thread thread_;
};

std::string read_some(HANDLE pipe) {
    char buffer[1024];
    DWORD read = 0;
    if (!ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr)) return {};
    return std::string(buffer, read);
}

void write_text(HANDLE pipe, const std::string& text) {
    DWORD written = 0;
    WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Holds the connection until the client closes it.
void wait_for_close(HANDLE pipe) {
    while (!read_some(pipe).empty()) {
    }
}

// The privileged pipe as it should behave: one reply line per request.
TestServer::Handler replying(std::string reply, std::string* request = nullptr) {
    return [reply = std::move(reply), request](HANDLE pipe) {
        const std::string got = read_some(pipe);
        if (request) *request = got;
        write_text(pipe, reply);
        wait_for_close(pipe);
    };
}

kv_options privileged_at(const std::wstring& name) {
    kv_options options{};
    options.privileged_pipe = name.c_str();
    options.busy_timeout_ms = 300;
    options.reply_timeout_ms = 300;
    return options;
}

struct Call {
    kv_status status;
    std::string text;
    Clock::duration took;
};

template <class F>
Call timed(F&& f) {
    char text[KV_TEXT_SIZE] = "untouched";
    const auto start = Clock::now();
    const kv_status status = f(text, sizeof(text));
    return Call{status, text, Clock::now() - start};
}

TEST(StationSdkPipes, AnOversizedRequestIsRefusedBeforeAnyConnection) {
    std::string request;
    TestServer server(unique_pipe(L"limit"), true, replying("OK\n", &request));
    const kv_options options = privileged_at(server.name());
    const Call refused = timed([&](char* t, size_t n) { return kv_privileged_request(&options, std::string(513, 'A').c_str(), t, n); });
    EXPECT_EQ(refused.status, KV_ERR_TOO_LONG);
    EXPECT_EQ(refused.text, "the request is 513 bytes, more than the 512 the privileged pipe takes: nothing was sent");
    EXPECT_EQ(server.connections(), 0);
    EXPECT_EQ(timed([&](char* t, size_t n) { return kv_privileged_request(&options, "", t, n); }).status, KV_ERR_ARGUMENT);
    EXPECT_EQ(timed([&](char* t, size_t n) { return kv_privileged_request(&options, nullptr, t, n); }).status, KV_ERR_ARGUMENT);
    EXPECT_EQ(server.connections(), 0);

    const std::string full = "PING" + std::string(508, ' ');
    const Call sent = timed([&](char* t, size_t n) { return kv_privileged_request(&options, full.c_str(), t, n); });
    EXPECT_EQ(sent.status, KV_OK) << sent.text;
    EXPECT_EQ(sent.text, "OK");
    EXPECT_EQ(request, full) << "one message, as given";
}

TEST(StationSdkPipes, EachCommandWritesItsRequestAndReadsItsReply) {
    const struct {
        std::function<kv_status(const kv_options*, char*, size_t)> call;
        std::string reply;
        std::string request;
        kv_status status;
    } cases[] = {
        {kv_ping, "OK\n", "PING", KV_OK},
        {kv_heartbeat, "OK\n", "HEARTBEAT", KV_OK},
        {kv_supervise_off, "OK\n", "SUPERVISE off", KV_OK},
        {[](const kv_options* o, char* t, size_t n) { return kv_kill(o, 4242, t, n); }, "ERR target not found\n", "KILL 4242", KV_ERR_REPLY},
        {[](const kv_options* o, char* t, size_t n) { return kv_settime(o, -5, t, n); }, "ERR epoch -5 is out of range\n", "SETTIME -5",
         KV_ERR_REPLY},
        {[](const kv_options* o, char* t, size_t n) { return kv_dnspolicy(o, 1, nullptr, t, n); }, "OK 8\n", "DNSPOLICY on", KV_OK},
        {[](const kv_options* o, char* t, size_t n) { return kv_dnspolicy(o, 0, nullptr, t, n); }, "OK\n", "DNSPOLICY off",
         KV_ERR_PROTOCOL},
        {[](const kv_options* o, char* t, size_t n) { return kv_vprinter_ensure(o, nullptr, t, n); }, "OK queued\n", "VPRINTER ensure",
         KV_OK},
        {[](const kv_options* o, char* t, size_t n) { return kv_webfilter_ensure(o, nullptr, t, n); }, "OK later\n",
         "WEBFILTER ensure", KV_ERR_PROTOCOL},
        {kv_watchdog_managed, "ERR watchdog not managed by the service\n", "WATCHDOG managed", KV_ERR_REPLY},
        {kv_watchdog_stop, "OK\n", "WATCHDOG stop", KV_OK},
        {kv_ping, "HELLO\n", "PING", KV_ERR_PROTOCOL},
        {kv_ping, "OK", "PING", KV_ERR_PROTOCOL},
    };
    for (const auto& c : cases) {
        std::string request;
        TestServer server(unique_pipe(L"command"), true, replying(c.reply, &request));
        const kv_options options = privileged_at(server.name());
        const Call call = timed([&](char* t, size_t n) { return c.call(&options, t, n); });
        EXPECT_EQ(request, c.request);
        EXPECT_EQ(call.status, c.status) << c.request << ": " << call.text;
        if (c.status == KV_OK || c.status == KV_ERR_REPLY) {
            EXPECT_EQ(call.text + "\n", c.reply);
        }
    }
}

TEST(StationSdkPipes, BusyMissingSilentAndClosingServicesEachHaveTheirStatus) {
    // Every instance busy: the one instance serves a client that keeps it.
    TestServer busy(unique_pipe(L"busy"), true, wait_for_close);
    const UniqueFileHandle holder(CreateFileW(busy.name().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    ASSERT_TRUE(testing::wait_until([&] { return busy.connections() == 1; }, 5s));
    const kv_options busy_options = privileged_at(busy.name());
    const Call waited = timed([&](char* t, size_t n) { return kv_ping(&busy_options, t, n); });
    EXPECT_EQ(waited.status, KV_ERR_BUSY) << waited.text;
    EXPECT_NE(waited.text.find("stayed busy for 300 ms"), std::string::npos) << waited.text;
    EXPECT_GE(waited.took, 290ms);
    EXPECT_LE(waited.took, 3s);

    const std::wstring nowhere = unique_pipe(L"none");
    const kv_options missing = privileged_at(nowhere);
    const Call absent = timed([&](char* t, size_t n) { return kv_ping(&missing, t, n); });
    EXPECT_EQ(absent.status, KV_ERR_NO_PIPE) << absent.text;
    EXPECT_LE(absent.took, 1s) << "a missing service is no reason to wait";

    TestServer silent(unique_pipe(L"silent"), true, wait_for_close);
    const kv_options silent_options = privileged_at(silent.name());
    const Call unanswered = timed([&](char* t, size_t n) { return kv_ping(&silent_options, t, n); });
    EXPECT_EQ(unanswered.status, KV_ERR_TIMEOUT);
    EXPECT_EQ(unanswered.text, "no reply within 300 ms");
    EXPECT_GE(unanswered.took, 290ms);
    EXPECT_LE(unanswered.took, 3s);

    // A service that refuses the caller closes without a word.
    TestServer refusing(unique_pipe(L"refusing"), true, [](HANDLE pipe) { (void)read_some(pipe); });
    const kv_options refusing_options = privileged_at(refusing.name());
    const Call refused = timed([&](char* t, size_t n) { return kv_ping(&refusing_options, t, n); });
    EXPECT_EQ(refused.status, KV_ERR_CLOSED);
    EXPECT_EQ(refused.text,
              "the service closed the connection without a reply (it answers only Kestrivon-Client.exe from its own folder)");
}

TEST(StationSdkPipes, HeartbeatsKeepTheirPaceAndStopPromptly) {
    std::atomic<int> beats = 0;
    TestServer server(unique_pipe(L"beats"), true, [&](HANDLE pipe) {
        if (read_some(pipe) == "HEARTBEAT") ++beats;
        write_text(pipe, "OK\n");
        wait_for_close(pipe);
    });
    kv_options options = privileged_at(server.name());
    options.heartbeat_interval_ms = 100;
    kv_heartbeats* heartbeats = nullptr;
    char text[KV_TEXT_SIZE];
    ASSERT_EQ(kv_heartbeats_start(&options, &heartbeats, text, sizeof(text)), KV_OK) << text;
    EXPECT_STREQ(text, "heartbeats every 100 ms");
    std::this_thread::sleep_for(1s);
    unsigned long sent = 0, failed = 0;
    EXPECT_EQ(kv_heartbeats_status(heartbeats, &sent, &failed, text, sizeof(text)), KV_OK);
    EXPECT_STREQ(text, "OK");
    // One at once, then one per 100 ms plus the round trip: never faster than the pace.
    EXPECT_GE(sent, 3ul);
    EXPECT_LE(sent, 11ul);
    EXPECT_EQ(failed, 0ul);
    const auto stopping = Clock::now();
    kv_heartbeats_stop(heartbeats);
    EXPECT_LE(Clock::now() - stopping, 500ms);
    const int after_stop = beats;
    EXPECT_GE(after_stop, static_cast<int>(sent));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(beats, after_stop) << "no beat after the stop";

    // Beats that fail are counted and the last failure is told.
    const std::wstring nowhere = unique_pipe(L"no-beats");
    options.privileged_pipe = nowhere.c_str();
    ASSERT_EQ(kv_heartbeats_start(&options, &heartbeats, nullptr, 0), KV_OK);
    ASSERT_TRUE(testing::wait_until([&] { return kv_heartbeats_status(heartbeats, nullptr, &failed, nullptr, 0) != KV_OK && failed > 0; }, 5s));
    EXPECT_EQ(kv_heartbeats_status(heartbeats, &sent, &failed, text, sizeof(text)), KV_ERR_NO_PIPE);
    EXPECT_EQ(sent, 0ul);
    kv_heartbeats_stop(heartbeats);
    kv_heartbeats_stop(nullptr);
}

// A watchdog stand-in: greets (or not), records what the client writes, acknowledges exits.
struct WatchdogStandIn {
    bool greet = true;
    bool acknowledge = true;
    int drop_first = 0;  // connections dropped before the greeting
    std::string received;

    TestServer::Handler handler() {
        return [this](HANDLE pipe) {
            if (drop_first > 0) {
                --drop_first;
                return;
            }
            if (!greet) {
                wait_for_close(pipe);
                return;
            }
            write_text(pipe, "WATCHDOG_READY\n");
            for (std::string chunk; !(chunk = read_some(pipe)).empty();) {
                received += chunk;
                if (acknowledge && received.ends_with("ADMIN_EXIT\n")) {
                    write_text(pipe, "EXIT_ACK\n");
                    return;
                }
            }
        };
    }
};

kv_options watchdog_at(const std::wstring& name, const std::wstring& token_file = L"", unsigned long timeout_ms = 600) {
    kv_options options{};
    options.watchdog_pipe = name.c_str();
    options.token_file = token_file.empty() ? nullptr : token_file.c_str();
    options.watchdog_timeout_ms = timeout_ms;
    return options;
}

TEST(StationSdkPipes, AWatchdogSessionSendsEachLineAndWaitsForItsExitAck) {
    const auto folder = testing::scratch_dir("sdk-token");
    const std::wstring token_file = (folder / L"watchdog.token").wstring();
    const std::string token(64, 'c');
    ASSERT_TRUE(write_whole_file(token_file, token));
    WatchdogStandIn watchdog;
    watchdog.drop_first = 2;  // as a watchdog being replaced does
    TestServer server(unique_pipe(L"watchdog"), false, watchdog.handler());
    const kv_options options = watchdog_at(server.name(), token_file, 3000);

    kv_watchdog* session = nullptr;
    char text[KV_TEXT_SIZE];
    ASSERT_EQ(kv_watchdog_open(&options, &session, text, sizeof(text)), KV_OK) << text;
    EXPECT_STREQ(text, "WATCHDOG_READY");
    EXPECT_EQ(server.connections(), 3);
    EXPECT_EQ(kv_watchdog_report_pid(session, 77, text, sizeof(text)), KV_OK);
    EXPECT_STREQ(text, "sent PID:77");
    for (int command = KV_KIOSK_ON; command <= KV_WATCHDOG_HEARTBEAT; ++command) {
        EXPECT_EQ(kv_watchdog_send(session, static_cast<kv_watchdog_command>(command), text, sizeof(text)), KV_OK) << text;
    }
    EXPECT_EQ(kv_watchdog_send(session, static_cast<kv_watchdog_command>(42), text, sizeof(text)), KV_ERR_ARGUMENT);
    EXPECT_EQ(kv_watchdog_authenticate(session, text, sizeof(text)), KV_OK) << text;
    EXPECT_STREQ(text, "sent AUTH:");
    EXPECT_EQ(kv_watchdog_read_line(session, 200, text, sizeof(text)), KV_ERR_TIMEOUT) << "commands get no reply";
    EXPECT_EQ(kv_watchdog_exit(session, KV_ADMIN_EXIT, text, sizeof(text)), KV_OK) << text;
    EXPECT_STREQ(text, "EXIT_ACK");
    EXPECT_EQ(kv_watchdog_read_line(session, 1000, text, sizeof(text)), KV_ERR_CLOSED);
    EXPECT_EQ(kv_watchdog_send(session, KV_KIOSK_ON, text, sizeof(text)), KV_ERR_CLOSED);
    kv_watchdog_close(session);
    EXPECT_EQ(watchdog.received,
              "PID:77\nKIOSK_ON\nKIOSK_OFF\nSHUTDOWN_GUARD_ON\nSHUTDOWN_GUARD_OFF\nWIN_KEY_GUARD_ON\nWIN_KEY_GUARD_OFF\nHEARTBEAT\nAUTH:" +
                  token + "\nADMIN_EXIT\n");
    kv_watchdog_close(nullptr);
}

TEST(StationSdkPipes, ASilentOrRefusingWatchdogAndABadTokenEachHaveTheirStatus) {
    WatchdogStandIn quiet;
    quiet.greet = false;
    TestServer silent(unique_pipe(L"silent-watchdog"), false, quiet.handler());
    const kv_options silent_options = watchdog_at(silent.name());
    kv_watchdog* session = nullptr;
    const Call unanswered = timed([&](char* t, size_t n) { return kv_watchdog_open(&silent_options, &session, t, n); });
    EXPECT_EQ(unanswered.status, KV_ERR_TIMEOUT);
    EXPECT_EQ(unanswered.text, "connected, but no WATCHDOG_READY within 600 ms");
    EXPECT_GE(unanswered.took, 590ms);
    EXPECT_LE(unanswered.took, 3s);
    EXPECT_EQ(session, nullptr);

    WatchdogStandIn refusing;
    refusing.drop_first = 1000;
    TestServer refuser(unique_pipe(L"refusing-watchdog"), false, refusing.handler());
    const kv_options refusing_options = watchdog_at(refuser.name());
    const Call dropped = timed([&](char* t, size_t n) { return kv_watchdog_open(&refusing_options, &session, t, n); });
    EXPECT_EQ(dropped.status, KV_ERR_CLOSED);
    EXPECT_NE(dropped.text.find("closed every connection before WATCHDOG_READY"), std::string::npos) << dropped.text;
    EXPECT_GE(refuser.connections(), 2) << "it tried again";

    const std::wstring nowhere = unique_pipe(L"no-watchdog");
    const kv_options missing = watchdog_at(nowhere);
    const Call absent = timed([&](char* t, size_t n) { return kv_watchdog_open(&missing, &session, t, n); });
    EXPECT_EQ(absent.status, KV_ERR_NO_PIPE);
    EXPECT_NE(absent.text.find("no watchdog to connect to within 600 ms"), std::string::npos) << absent.text;
    EXPECT_GE(absent.took, 590ms) << "a watchdog being restarted gets its time";

    // An unauthenticated exit gets nothing back from a watchdog; the token is checked before it is sent.
    const auto folder = testing::scratch_dir("sdk-bad-token");
    const std::wstring token_file = (folder / L"watchdog.token").wstring();
    WatchdogStandIn rejecting;
    rejecting.acknowledge = false;
    TestServer server(unique_pipe(L"rejecting-watchdog"), false, rejecting.handler());
    const kv_options options = watchdog_at(server.name(), token_file);
    char text[KV_TEXT_SIZE];
    ASSERT_EQ(kv_watchdog_open(&options, &session, text, sizeof(text)), KV_OK) << text;
    EXPECT_EQ(kv_watchdog_authenticate(session, text, sizeof(text)), KV_ERR_TOKEN);
    EXPECT_NE(std::string(text).find("cannot read "), std::string::npos) << text;
    ASSERT_TRUE(write_whole_file(token_file, std::string(64, 'c') + "\r\n"));
    EXPECT_EQ(kv_watchdog_authenticate(session, text, sizeof(text)), KV_ERR_TOKEN);
    EXPECT_NE(std::string(text).find("holds no session token: expected 64 lower-case hexadecimal characters, found 66 bytes"),
              std::string::npos)
        << text;
    const Call ignored = timed([&](char* t, size_t n) { return kv_watchdog_exit(session, KV_SERVER_EXIT, t, n); });
    EXPECT_EQ(ignored.status, KV_ERR_TIMEOUT);
    EXPECT_EQ(ignored.text, "no EXIT_ACK within 600 ms (is the session authenticated with the current watchdog.token?)");
    kv_watchdog_close(session);
    EXPECT_EQ(rejecting.received, "SERVER_EXIT\n") << "no AUTH: line went out with a bad token";
}

TEST(StationSdkPipes, NullArgumentsAreRefusedAndStatusesHaveNames) {
    char text[KV_TEXT_SIZE];
    EXPECT_EQ(kv_watchdog_open(nullptr, nullptr, text, sizeof(text)), KV_ERR_ARGUMENT);
    EXPECT_EQ(kv_watchdog_send(nullptr, KV_KIOSK_ON, text, sizeof(text)), KV_ERR_ARGUMENT);
    EXPECT_STREQ(text, "no session given");
    EXPECT_EQ(kv_heartbeats_start(nullptr, nullptr, text, sizeof(text)), KV_ERR_ARGUMENT);
    EXPECT_EQ(kv_heartbeats_status(nullptr, nullptr, nullptr, text, sizeof(text)), KV_ERR_ARGUMENT);
    EXPECT_STREQ(kv_status_name(KV_OK), "KV_OK");
    EXPECT_STREQ(kv_status_name(KV_ERR_TOKEN), "KV_ERR_TOKEN");
    EXPECT_STREQ(kv_status_name(static_cast<kv_status>(99)), "KV_ERR_UNKNOWN");
}

}  // namespace
}  // namespace kv
