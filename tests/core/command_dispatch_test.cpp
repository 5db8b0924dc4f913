#include "command_dispatch.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

struct Dispatch {
    explicit Dispatch(PrivilegedCommandHandlers handlers = {}) : dispatch(settings(std::move(handlers))) {}

    CommandDispatchSettings settings(PrivilegedCommandHandlers handlers) {
        return {&records, &clock, [this](std::string_view line) { log.emplace_back(line); }, std::move(handlers),
                [this](std::string_view argument) -> Result<std::string> {
                    killed.emplace_back(argument);
                    return "OK " + std::string(argument);
                }};
    }

    SupervisionRecords records;
    testing::FakeClock clock;
    std::vector<std::string> log;
    std::vector<std::string> killed;
    CommandDispatch dispatch;
};

TEST(CommandDispatch, CommandsWithoutTheirWorkAnswerHonestly) {
    Dispatch d;
    const struct {
        std::string_view request;
        std::string reply;
    } cases[] = {
        {"PING", "OK"},
        {"PING a b", "OK"},
        {"SETTIME 1800000000", "ERR SETTIME is not available in this service build"},
        {"SETTIME", "ERR SETTIME needs an epoch"},
        {"DNSPOLICY on", "ERR DNSPOLICY is not available in this service build"},
        {"DNSPOLICY ON", "ERR DNSPOLICY mode must be on or off, got 'ON'"},
        {"WATCHDOG managed", "ERR watchdog not managed by the service"},
        {"WATCHDOG stop", "ERR WATCHDOG stop is not available in this service build"},
        {"WATCHDOG", "ERR WATCHDOG mode must be managed or stop, got ''"},
        {"VPRINTER ensure", "ERR VPRINTER is not available in this service build"},
        {"VPRINTER", "ERR VPRINTER mode must be ensure, got ''"},
        {"WEBFILTER ensure", "ERR WEBFILTER is not available in this service build"},
        {"", "ERR empty request"},
        {"KILL +7", "OK +7"},
    };
    for (const auto& c : cases) EXPECT_EQ(d.dispatch.execute(c.request, 1234), c.reply) << c.request;
    EXPECT_EQ(d.killed, (std::vector<std::string>{"+7"}));
    EXPECT_TRUE(d.log.empty());
}

TEST(CommandDispatch, HeartbeatRecordsTheCallerAndSuperviseAnnouncesAnExit) {
    Dispatch d;
    EXPECT_EQ(d.dispatch.execute("HEARTBEAT", 1234), "OK");
    EXPECT_EQ(d.records.heartbeats.fields().last_beat.at(1234), d.clock.now());
    EXPECT_FALSE(d.records.authorized_exit.is_announced());
    d.clock.advance(3s);
    EXPECT_EQ(d.dispatch.execute("SUPERVISE off", 1234), "OK");
    const auto exit = d.records.authorized_exit.fields();
    EXPECT_TRUE(exit.announced);
    EXPECT_TRUE(exit.exit_pending);
    EXPECT_EQ(exit.announced_at, d.clock.now());
    EXPECT_EQ(d.log, (std::vector<std::string>{"supervision suppressed for authorized exit"}));
    EXPECT_EQ(d.dispatch.execute("SUPERVISE on", 1234), "ERR SUPERVISE mode must be off, got 'on'");
}

TEST(CommandDispatch, HandlersGiveTheRepliesOfTheTable) {
    PrivilegedCommandHandlers handlers;
    std::vector<std::string> calls;
    handlers.set_time = [&](std::string_view epoch, const CommandCaller& caller) -> Status {
        calls.push_back("settime " + std::string(epoch) + " " + std::to_string(caller.pid));
        if (epoch == "x") return fail("epoch is not a number");
        return ok();
    };
    handlers.dns_policy = [&](bool on, const CommandCaller&) -> Result<std::uint32_t> { return on ? 8u : 0u; };
    handlers.watchdog_managed = [](const CommandCaller&) -> Status { return ok(); };
    handlers.watchdog_stop = [](const CommandCaller&) -> Status { return fail("no authorized exit announced"); };
    Dispatch d(handlers);
    EXPECT_EQ(d.dispatch.execute("SETTIME 1800000000", 9), "OK");
    EXPECT_EQ(d.dispatch.execute("SETTIME x", 9), "ERR epoch is not a number");
    EXPECT_EQ(calls, (std::vector<std::string>{"settime 1800000000 9", "settime x 9"}));
    EXPECT_EQ(d.dispatch.execute("DNSPOLICY on", 9), "OK 8");
    EXPECT_EQ(d.dispatch.execute("DNSPOLICY off", 9), "OK 0");
    EXPECT_EQ(d.dispatch.execute("WATCHDOG managed", 9), "OK managed");
    EXPECT_EQ(d.dispatch.execute("WATCHDOG stop", 9), "ERR no authorized exit announced");
}

// A job body that waits until the test lets it finish.
struct Gate {
    void wait() {
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    }
    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

TEST(CommandDispatch, AnEnsureJobRunsOnceAtATimeAndNeverBlocksTheReply) {
    auto gate = std::make_shared<Gate>();
    auto runs = std::make_shared<std::atomic<int>>(0);
    PrivilegedCommandHandlers handlers;
    handlers.virtual_printer_job = [gate, runs](const LogSink& log) {
        ++*runs;
        gate->wait();
        log("printer job done");
    };
    handlers.web_filter_job = [runs](const LogSink&) { ++*runs; };
    Dispatch d(handlers);
    EXPECT_EQ(d.dispatch.execute("VPRINTER ensure", 1), "OK queued");
    EXPECT_EQ(d.dispatch.execute("VPRINTER ensure", 1), "OK in progress");
    // The other kind has its own flag.
    EXPECT_EQ(d.dispatch.execute("WEBFILTER ensure", 1), "OK queued");
    gate->release();
    for (int i = 0; i < 500 && d.dispatch.execute("VPRINTER ensure", 1) == "OK in progress"; ++i) std::this_thread::sleep_for(10ms);
    // The last call above started a second printer job once the first had ended.
    for (int i = 0; i < 500 && *runs < 3; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(*runs, 3);
}

TEST(CommandDispatch, EnsureJobFlagIsClearedWhateverTheOutcome) {
    EnsureJob job;
    std::atomic<int> runs = 0;
    EXPECT_EQ(*job.start([&] { ++runs; }), "OK queued");
    for (int i = 0; i < 500 && job.running(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(job.running());
    EXPECT_EQ(*job.start([&] { ++runs; }), "OK queued");
    for (int i = 0; i < 500 && job.running(); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace kv
