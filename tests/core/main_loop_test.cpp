#include "main_loop.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kv {
namespace {

using namespace std::chrono_literals;

// Duties that record the order in which they were consulted.
struct RecordingDuties {
    std::vector<std::string> calls;
    std::vector<std::string> log;
    Status apply_result = ok();
    bool pending = false;
    std::uint32_t session = 1;
    bool signed_in = true;

    LoopDuties duties() {
        LoopDuties d;
        d.apply_check = [this] { calls.push_back("apply"); return apply_result; };
        d.any_update_pending = [this] { calls.push_back("pending"); return pending; };
        d.active_console_session = [this] { calls.push_back("session"); return session; };
        d.user_signed_in = [this](std::uint32_t s) { calls.push_back("token " + std::to_string(s)); return signed_in; };
        d.client_supervision_pass = [this] { calls.push_back("supervise"); };
        d.watchdog_pass = [this] { calls.push_back("watchdog"); };
        return d;
    }
    LogSink sink() {
        return [this](std::string_view line) { log.emplace_back(line); };
    }
};

TEST(LoopPass, RunsTheDutiesInOrderAndChecksConditionsUntilTheFirstFails) {
    const struct {
        const char* name;
        bool pending;
        std::uint32_t session;
        bool signed_in;
        std::vector<std::string> expected;
    } cases[] = {
        {"everything in place", false, 1, true, {"apply", "pending", "session", "token 1", "supervise", "watchdog"}},
        {"update pending", true, 1, true, {"apply", "pending", "watchdog"}},
        {"services session only", false, 0, true, {"apply", "pending", "session", "watchdog"}},
        {"no console session", false, 0xFFFFFFFF, true, {"apply", "pending", "session", "watchdog"}},
        {"nobody signed in", false, 2, false, {"apply", "pending", "session", "token 2", "watchdog"}},
    };
    for (const auto& c : cases) {
        RecordingDuties recording;
        recording.pending = c.pending;
        recording.session = c.session;
        recording.signed_in = c.signed_in;
        run_loop_pass(recording.duties(), recording.sink());
        EXPECT_EQ(recording.calls, c.expected) << c.name;
        EXPECT_TRUE(recording.log.empty()) << c.name;
    }
}

TEST(LoopPass, AnApplyFailureIsLoggedAndThePassGoesOn) {
    RecordingDuties recording;
    recording.apply_result = fail("signature mismatch");
    run_loop_pass(recording.duties(), recording.sink());
    EXPECT_EQ(recording.log, (std::vector<std::string>{"apply check failed: signature mismatch"}));
    EXPECT_EQ(recording.calls.back(), "watchdog");
    EXPECT_EQ(recording.calls.size(), 6u);
}

TEST(MainLoop, EndsAtTheNextWaitAfterAStopSignal) {
    RecordingDuties recording;
    StopSignal stop;
    int passes = 0;
    LoopDuties duties = recording.duties();
    duties.watchdog_pass = [&] {
        if (++passes == 3) stop.post();
    };
    run_main_loop(stop, duties, recording.sink(), 1ms);
    EXPECT_EQ(passes, 3);
}

TEST(MainLoop, AStopPostedBeforeTheFirstWaitRunsNoPass) {
    RecordingDuties recording;
    StopSignal stop;
    stop.post();
    run_main_loop(stop, recording.duties(), recording.sink(), 1s);
    EXPECT_TRUE(recording.calls.empty());
}

}  // namespace
}  // namespace kv
