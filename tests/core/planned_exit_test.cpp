// The planned exit's order over both pipes and where it stops, against a scripted station.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "planned_exit.hpp"

namespace kv::station {
namespace {

// Records every step; a step answers OK unless the test gave it another answer, by its name
// or, for one occurrence only, by its name and "#2".
class ScriptedStation final : public StationLink {
public:
    std::map<std::string, Answer> answers;
    std::vector<std::string> steps;

    Answer privileged(std::string_view request) override { return step(std::string(request)); }
    Answer open_watchdog() override { return step("open"); }
    Answer authenticate() override { return step("AUTH:"); }
    Answer send_line(std::string_view line) override { return step(std::string(line.substr(0, line.size() - 1))); }
    Answer exit_watchdog(std::string_view line) override { return step(std::string(line.substr(0, line.size() - 1)) + " + EXIT_ACK"); }
    void close_watchdog() override { (void)step("close"); }

private:
    Answer step(const std::string& name) {
        steps.push_back(name);
        const auto occurrence = std::count(steps.begin(), steps.end(), name);
        for (const std::string& key : {name + "#" + std::to_string(occurrence), name}) {
            if (const auto given = answers.find(key); given != answers.end()) return given->second;
        }
        return answer(KV_OK, "OK");
    }
};

// Lifting, then a second session whose greeting says the first one's lines were handled.
const std::vector<std::string> lifting = {"open", "AUTH:", "KIOSK_OFF", "SHUTDOWN_GUARD_OFF", "WIN_KEY_GUARD_OFF", "close", "open"};

std::vector<std::string> then(std::vector<std::string> first, const std::vector<std::string>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

TEST(PlannedExit, LiftsTheLockDownThenAnnouncesThenLetsTheServiceStopItsWatchdog) {
    ScriptedStation station;
    const Answer done = planned_exit(station);
    EXPECT_EQ(done.status, KV_OK);
    EXPECT_EQ(done.text, "OK kiosk mode lifted, exit announced, watchdog stopped by the service");
    EXPECT_EQ(station.steps, then(lifting, {"WATCHDOG managed", "SUPERVISE off", "close", "WATCHDOG stop"}));
}

TEST(PlannedExit, AWatchdogTheServiceDoesNotManageIsEndedOnThePipe) {
    ScriptedStation station;
    station.answers["WATCHDOG managed"] = answer(KV_ERR_REPLY, "ERR watchdog not managed by the service");
    const Answer done = planned_exit(station);
    EXPECT_EQ(done.status, KV_OK);
    EXPECT_EQ(done.text, "OK kiosk mode lifted, exit announced, watchdog ended with EXIT_ACK");
    EXPECT_EQ(station.steps, then(lifting, {"WATCHDOG managed", "SUPERVISE off", "AUTH:", "ADMIN_EXIT + EXIT_ACK"}));
}

TEST(PlannedExit, StopsAtTheFirstFailureAndNamesTheStep) {
    const struct {
        std::string failing;
        Answer failure;
        std::string step_named;
        std::size_t steps_taken;
    } cases[] = {
        {"open", answer(KV_ERR_TIMEOUT, "connected, but no WATCHDOG_READY within 10000 ms"), "opening the watchdog session", 1},
        {"AUTH:", answer(KV_ERR_TOKEN, "cannot read watchdog.token"), "AUTH:", 2},
        {"KIOSK_OFF", answer(KV_ERR_CLOSED, "the watchdog has closed the session"), "KIOSK_OFF", 3},
        {"WIN_KEY_GUARD_OFF", answer(KV_ERR_CLOSED, "the watchdog has closed the session"), "WIN_KEY_GUARD_OFF", 5},
        {"open#2", answer(KV_ERR_CLOSED, "the watchdog closed every connection"), "waiting for the watchdog to lift", 7},
        {"WATCHDOG managed", answer(KV_ERR_NO_PIPE, "cannot connect"), "WATCHDOG managed", 8},
        {"SUPERVISE off", answer(KV_ERR_BUSY, "every instance stayed busy"), "SUPERVISE off", 9},
        {"WATCHDOG stop", answer(KV_ERR_REPLY, "ERR no authorized exit announced"), "WATCHDOG stop", 11},
    };
    for (const auto& c : cases) {
        ScriptedStation station;
        station.answers[c.failing] = c.failure;
        const Answer stopped = planned_exit(station);
        EXPECT_EQ(stopped.status, c.failure.status) << c.failing;
        EXPECT_EQ(stopped.text, "planned exit stopped at " + c.step_named + ": " + c.failure.text);
        EXPECT_EQ(station.steps.size(), c.steps_taken) << c.failing;
    }
    // Without the service's consent the watchdog is not ended on the pipe either.
    ScriptedStation station;
    station.answers["WATCHDOG managed"] = answer(KV_ERR_REPLY, "ERR watchdog not managed by the service");
    station.answers["SUPERVISE off"] = answer(KV_ERR_TIMEOUT, "no reply within 10000 ms");
    EXPECT_EQ(planned_exit(station).status, KV_ERR_TIMEOUT);
    EXPECT_EQ(station.steps.back(), "SUPERVISE off");
}

}  // namespace
}  // namespace kv::station
