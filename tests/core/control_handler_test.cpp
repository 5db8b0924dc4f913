#include "control_handler.hpp"

#include <gtest/gtest.h>

#include "fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

TEST(DecideControl, AnswersEveryControlAsTheTableSays) {
    const struct {
        std::uint32_t control;
        std::uint32_t event_type;
        ControlAction action;
        std::uint32_t answer;
    } cases[] = {
        {control_code::stop, 0, ControlAction::post_stop, 0},
        {control_code::shutdown, 0, ControlAction::post_stop, 0},
        {control_code::interrogate, 0, ControlAction::nothing, 0},
        {control_code::session_change, session_reason::console_connect, ControlAction::clear_authorized_exit, 0},
        {control_code::session_change, session_reason::session_logon, ControlAction::clear_authorized_exit, 0},
        {control_code::session_change, session_reason::console_disconnect, ControlAction::announce_authorized_exit, 0},
        {control_code::session_change, session_reason::session_logoff, ControlAction::announce_authorized_exit, 0},
        {control_code::session_change, 3 /* remote connect */, ControlAction::nothing, 0},
        {control_code::session_change, 7 /* lock */, ControlAction::nothing, 0},
        {2 /* pause */, 0, ControlAction::nothing, 120},
        {3 /* continue */, 0, ControlAction::nothing, 120},
        {6 /* parameter change */, 0, ControlAction::nothing, 120},
        {15 /* pre-shutdown */, 0, ControlAction::nothing, 120},
        {0xFFFFFFFF, 0, ControlAction::nothing, 120},
    };
    for (const auto& c : cases) {
        const ControlDecision decision = decide_control(c.control, c.event_type);
        EXPECT_EQ(decision.action, c.action) << c.control << "/" << c.event_type;
        EXPECT_EQ(decision.answer, c.answer) << c.control << "/" << c.event_type;
    }
}

TEST(HandleControl, StopPostsOneSignalPerRequest) {
    StopSignal stop;
    AuthorizedExit authorized_exit;
    testing::FakeClock clock;
    EXPECT_EQ(handle_control(control_code::stop, 0, stop, authorized_exit, clock), 0u);
    EXPECT_EQ(handle_control(control_code::shutdown, 0, stop, authorized_exit, clock), 0u);
    EXPECT_TRUE(stop.wait_for(0ms));
    EXPECT_TRUE(stop.wait_for(0ms));
    EXPECT_FALSE(stop.wait_for(0ms));
}

TEST(HandleControl, DisconnectThenConnectLeavesTheExitCleared) {
    StopSignal stop;
    AuthorizedExit authorized_exit;
    testing::FakeClock clock;
    handle_control(control_code::session_change, session_reason::console_disconnect, stop, authorized_exit, clock);
    const auto announced = authorized_exit.fields();
    EXPECT_TRUE(announced.announced);
    EXPECT_TRUE(announced.exit_pending);
    EXPECT_EQ(announced.announced_at, clock.now());

    handle_control(control_code::session_change, session_reason::console_connect, stop, authorized_exit, clock);
    const auto cleared = authorized_exit.fields();
    EXPECT_FALSE(cleared.announced);
    EXPECT_FALSE(cleared.exit_pending);
    EXPECT_FALSE(cleared.announced_at.has_value());
    EXPECT_FALSE(stop.wait_for(0ms));
}

}  // namespace
}  // namespace kv
