// The watchdog pipe's line framing, message parsing and per-session dispatch.
#include <gtest/gtest.h>

#include <vector>

#include "line_framer.hpp"
#include "pipe_message.hpp"
#include "pipe_session.hpp"

namespace kv {
namespace {

using K = PipeMessageKind;

std::vector<PipeMessage> frame(const std::vector<std::string>& writes, std::size_t line_limit = max_line_bytes) {
    LineFramer framer(line_limit);
    std::vector<PipeMessage> messages;
    for (const auto& chunk : writes) {
        framer.append(chunk);
        while (auto line = framer.next_line()) messages.push_back(parse_framed_line(*line));
    }
    return messages;
}

PipeMessage unknown(std::string line) { return {K::Unknown, 0, std::move(line)}; }

TEST(PipeFraming, SplitsAndJoinsLinesAcrossWrites) {
    const struct {
        const char* name;
        std::vector<std::string> writes;
        std::vector<PipeMessage> expected;
    } cases[] = {
        {"several commands in one write", {"PID:42\nKIOSK_ON\nHEARTBEAT\n"}, {{K::Pid, 42, {}}, {K::KioskOn, 0, {}}, {K::Heartbeat, 0, {}}}},
        {"one command over several writes", {"KIO", "SK_", "ON", "\n"}, {{K::KioskOn, 0, {}}}},
        {"a line end opens the next line", {"KIOSK_ON\nKIOSK", "_OFF\n"}, {{K::KioskOn, 0, {}}, {K::KioskOff, 0, {}}}},
        {"CR before LF", {"KIOSK_ON\r\n"}, {{K::KioskOn, 0, {}}}},
        {"leading spaces", {"   \tKIOSK_ON\r\n"}, {{K::KioskOn, 0, {}}}},
        {"Unicode white space around", {"\xC2\xA0\xE3\x80\x80KIOSK_ON\xE2\x80\xA8\n"}, {{K::KioskOn, 0, {}}}},
        {"lower-case word", {"kiosk_on\n"}, {unknown("kiosk_on")}},
        {"empty and blank lines skipped", {"\n\r\n   \nHEARTBEAT\n"}, {{K::Heartbeat, 0, {}}}},
        {"no line end yet", {"KIOSK_ON"}, {}},
        {"invalid UTF-8 becomes U+FFFD", {"X\xFFY\n"}, {unknown("X\xEF\xBF\xBDY")}},
        // Each read is decoded on its own: a character split across reads is lost.
        {"character split across writes", {"\xC3", "\xA9\n"}, {unknown("\xEF\xBF\xBD\xEF\xBF\xBD")}},
    };
    for (const auto& c : cases) EXPECT_EQ(frame(c.writes), c.expected) << c.name;
}

TEST(PipeFraming, KeepsAPartialLineUntilItsLineFeed) {
    LineFramer framer;
    framer.append("AUTH:abc");
    EXPECT_FALSE(framer.next_line());
    EXPECT_EQ(framer.pending_bytes(), 8u);
    framer.append("def\nPI");
    EXPECT_EQ(framer.next_line(), FramedLine{"AUTH:abcdef"});
    EXPECT_FALSE(framer.next_line());
    framer.clear();
    framer.append("D:1\n");
    EXPECT_EQ(framer.next_line(), FramedLine{"D:1"});
}

TEST(PipeFraming, ALineLongerThanTheLimitIsDroppedAndReportedOnce) {
    const struct {
        const char* name;
        std::vector<std::string> writes;
        std::vector<PipeMessage> expected;
    } cases[] = {
        {"a line at the limit", {"KIOSK_ON\n"}, {{K::KioskOn, 0, {}}}},
        {"one byte over, line feed in the same write", {"KIOSK_ON!\nPID:7\n"}, {unknown("KIOSK_ON!..."), {K::Pid, 7, {}}}},
        {"a pending line outgrows the limit", {"AUTH:abcd", "efgh", "ijkl\nKIOSK_ON\n"}, {unknown("AUTH:abcd..."), {K::KioskOn, 0, {}}}},
        {"a command at the end of a long line never runs", {"xxxxxxxxx", "KIOSK_OFF\n"}, {unknown("xxxxxxxxx...")}},
        {"white space is trimmed from what is shown", {"   \tAUTH:abcde\n"}, {unknown("AUTH:abcde...")}},
    };
    for (const auto& c : cases) EXPECT_EQ(frame(c.writes, 8), c.expected) << c.name;
}

TEST(PipeFraming, APeerWithoutLineFeedsNeverGrowsTheBufferPastSixtyFourKiB) {
    LineFramer framer;
    std::vector<FramedLine> lines;
    const std::string chunk(1024, 'A');
    for (int i = 0; i < 200; ++i) {
        framer.append(chunk);
        while (auto line = framer.next_line()) lines.push_back(*line);
        EXPECT_LE(framer.pending_bytes(), 64u * 1024);
    }
    framer.append("\nKIOSK_ON\n");
    while (auto line = framer.next_line()) lines.push_back(*line);
    EXPECT_EQ(lines, (std::vector<FramedLine>{{std::string(64, 'A') + "...", true}, {"KIOSK_ON"}}));

    // Exactly 64 KiB is still a line.
    framer.append(std::string(64 * 1024, 'B') + "\n");
    EXPECT_EQ(framer.next_line(), FramedLine{std::string(64 * 1024, 'B')});
}

TEST(PipeMessageParsing, EveryLineKind) {
    const struct {
        std::string line;
        PipeMessage expected;
    } cases[] = {
        {"PID:0", {K::Pid, 0, {}}},
        {"PID:1234", {K::Pid, 1234, {}}},
        {"PID:+1234", {K::Pid, 1234, {}}},
        {"PID:007", {K::Pid, 7, {}}},
        {"PID:4294967295", {K::Pid, 4294967295u, {}}},
        {"PID:4294967296", unknown("PID:4294967296")},
        {"PID:99999999999999999999999", unknown("PID:99999999999999999999999")},
        {"PID:", unknown("PID:")},
        {"PID:+", unknown("PID:+")},
        {"PID:-1", unknown("PID:-1")},
        {"PID:12a", unknown("PID:12a")},
        {"PID: 12", unknown("PID: 12")},
        {"pid:12", unknown("pid:12")},
        {"AUTH:", {K::Auth, 0, ""}},
        {"AUTH:abc def", {K::Auth, 0, "abc def"}},
        {"AUTH:AUTH:x", {K::Auth, 0, "AUTH:x"}},
        {"AUTH", unknown("AUTH")},
        {"ADMIN_EXIT", {K::AdminExit, 0, {}}},
        {"UNINSTALL", {K::Uninstall, 0, {}}},
        {"SERVER_EXIT", {K::ServerExit, 0, {}}},
        {"SERVER_SHUTDOWN", {K::ServerShutdown, 0, {}}},
        {"SERVER_REBOOT", {K::ServerReboot, 0, {}}},
        {"SERVER_LOGOFF", {K::ServerLogoff, 0, {}}},
        {"KIOSK_ON", {K::KioskOn, 0, {}}},
        {"KIOSK_OFF", {K::KioskOff, 0, {}}},
        {"SHUTDOWN_GUARD_ON", {K::ShutdownGuardOn, 0, {}}},
        {"SHUTDOWN_GUARD_OFF", {K::ShutdownGuardOff, 0, {}}},
        {"WIN_KEY_GUARD_ON", {K::WinKeyGuardOn, 0, {}}},
        {"WIN_KEY_GUARD_OFF", {K::WinKeyGuardOff, 0, {}}},
        {"HEARTBEAT", {K::Heartbeat, 0, {}}},
        {"ADMIN_EXIT now", unknown("ADMIN_EXIT now")},
        {"KIOSK_ONN", unknown("KIOSK_ONN")},
        {"Kiosk_On", unknown("Kiosk_On")},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_pipe_message(c.line), c.expected) << c.line;
}

// Records what the session asked of the station, in order.
class RecordingControls final : public WatchdogControls {
public:
    void activate_kiosk() override { calls.push_back("activate_kiosk"); }
    void deactivate_kiosk() override { calls.push_back("deactivate_kiosk"); }
    void enable_win_key_guard() override { calls.push_back("enable_win_key_guard"); }
    void disable_win_key_guard() override { calls.push_back("disable_win_key_guard"); }
    void set_kiosk_shutdown_block(bool on) override { calls.push_back(on ? "kiosk_block=1" : "kiosk_block=0"); }
    void set_shutdown_guard(bool on) override { calls.push_back(on ? "guard=1" : "guard=0"); }
    void refresh_shutdown_block() override { calls.push_back("refresh"); }
    void request_exit() override { calls.push_back("exit"); }
    void remove_autostart_entry() override { calls.push_back("remove_autostart"); }
    void send_exit_ack() override { calls.push_back("EXIT_ACK"); }
    std::vector<std::string> calls;
};

class PipeSessionTest : public ::testing::Test {
protected:
    const std::string token = std::string(32, 'a') + std::string(32, '7');
    RecordingControls controls;
    std::vector<std::string> lines;
    PipeSession session{token, controls, [this](LogStream stream, std::string_view message) {
                            lines.push_back((stream == LogStream::out ? "out " : "err ") + std::string(message));
                        }};

    SessionStep send(const std::string& line) { return session.handle(parse_pipe_message(line)); }
};

TEST_F(PipeSessionTest, CommandsThatLockNeedNoAuthentication) {
    EXPECT_EQ(send("KIOSK_ON"), SessionStep::keep_reading);
    EXPECT_EQ(send("SHUTDOWN_GUARD_ON"), SessionStep::keep_reading);
    EXPECT_EQ(send("WIN_KEY_GUARD_ON"), SessionStep::keep_reading);
    EXPECT_EQ(send("PID:77"), SessionStep::keep_reading);
    EXPECT_EQ(send("HEARTBEAT"), SessionStep::keep_reading);
    EXPECT_EQ(send("what"), SessionStep::keep_reading);
    EXPECT_EQ(controls.calls, (std::vector<std::string>{"activate_kiosk", "kiosk_block=1", "refresh", "guard=1", "refresh",
                                                        "enable_win_key_guard"}));
    EXPECT_EQ(lines, (std::vector<std::string>{"out Kiosk shutdown block ENABLED", "out Shutdown guard ENABLED",
                                               "out Windows key guard ON", "out Client reported PID: 77", "err Unknown message: what"}));
}

TEST_F(PipeSessionTest, CommandsThatLiftOrEndAreRejectedUntilAuthenticated) {
    const char* guarded[] = {"KIOSK_OFF", "SHUTDOWN_GUARD_OFF", "WIN_KEY_GUARD_OFF", "ADMIN_EXIT", "UNINSTALL",
                             "SERVER_EXIT", "SERVER_SHUTDOWN", "SERVER_REBOOT", "SERVER_LOGOFF"};
    const char* names[] = {"KioskOff", "ShutdownGuardOff", "WinKeyGuardOff", "AdminExit", "Uninstall",
                           "ServerExit", "ServerShutdown", "ServerReboot", "ServerLogoff"};
    for (std::size_t i = 0; i < std::size(guarded); ++i) {
        lines.clear();
        EXPECT_EQ(send(guarded[i]), SessionStep::keep_reading) << guarded[i];
        EXPECT_EQ(lines, std::vector<std::string>{"err Rejected unauthenticated command: " + std::string(names[i])});
    }
    EXPECT_TRUE(controls.calls.empty());
    EXPECT_FALSE(session.authenticated());
}

TEST_F(PipeSessionTest, WrongEmptyOrShortTokensFailAndAFailureNeverRevokes) {
    for (const std::string& bad : std::vector<std::string>{"AUTH:", "AUTH:" + token.substr(0, 63), "AUTH:" + token + "0", "AUTH:" + std::string(64, 'a'),
                                  "AUTH: " + token}) {
        lines.clear();
        (void)send(bad);
        EXPECT_EQ(lines, std::vector<std::string>{"err Invalid auth token on pipe session"}) << bad;
        EXPECT_FALSE(session.authenticated()) << bad;
    }
    lines.clear();
    (void)send("AUTH:" + token);
    EXPECT_TRUE(session.authenticated());
    (void)send("AUTH:wrong");
    EXPECT_TRUE(session.authenticated());
    (void)send("AUTH:" + token);
    EXPECT_EQ(lines, (std::vector<std::string>{"out Pipe session authenticated", "out Pipe session authenticated",
                                               "out Pipe session authenticated"}));
}

TEST(PipeSessionWithoutToken, NobodyAuthenticatesAgainstAnEmptyToken) {
    RecordingControls controls;
    std::vector<std::string> lines;
    PipeSession session("", controls, [&](LogStream, std::string_view message) { lines.emplace_back(message); });
    (void)session.handle(parse_pipe_message("AUTH:"));
    (void)session.handle(parse_pipe_message("AUTH:x"));
    EXPECT_FALSE(session.authenticated());
    EXPECT_EQ(session.handle(parse_pipe_message("ADMIN_EXIT")), SessionStep::keep_reading);
    EXPECT_TRUE(controls.calls.empty());
}

TEST_F(PipeSessionTest, AuthenticatedCommandsInTheirOrder) {
    const struct {
        const char* line;
        SessionStep step;
        std::vector<std::string> calls;
        std::string logged;
    } cases[] = {
        {"KIOSK_OFF", SessionStep::keep_reading, {"deactivate_kiosk", "kiosk_block=0", "refresh"}, "out Kiosk shutdown block DISABLED"},
        {"SHUTDOWN_GUARD_OFF", SessionStep::keep_reading, {"guard=0", "refresh"}, "out Shutdown guard DISABLED"},
        {"WIN_KEY_GUARD_OFF", SessionStep::keep_reading, {"disable_win_key_guard"}, "out Windows key guard OFF"},
        {"ADMIN_EXIT", SessionStep::session_over, {"exit", "EXIT_ACK"}, "out Authorized exit (admin/server)"},
        {"SERVER_EXIT", SessionStep::session_over, {"exit", "EXIT_ACK"}, "out Authorized exit (admin/server)"},
        {"UNINSTALL", SessionStep::session_over, {"exit", "remove_autostart", "EXIT_ACK"}, "out Uninstall requested"},
        {"SERVER_SHUTDOWN", SessionStep::session_over, {"kiosk_block=0", "guard=0", "refresh", "exit", "EXIT_ACK"},
         "out Shutdown force-allowed (authorized)"},
        {"SERVER_REBOOT", SessionStep::session_over, {"kiosk_block=0", "guard=0", "refresh", "exit", "EXIT_ACK"},
         "out Shutdown force-allowed (authorized)"},
        {"SERVER_LOGOFF", SessionStep::session_over, {"kiosk_block=0", "guard=0", "refresh", "exit", "EXIT_ACK"},
         "out Shutdown force-allowed (authorized)"},
    };
    (void)send("AUTH:" + token);
    for (const auto& c : cases) {
        controls.calls.clear();
        lines.clear();
        EXPECT_EQ(send(c.line), c.step) << c.line;
        EXPECT_EQ(controls.calls, c.calls) << c.line;
        EXPECT_EQ(lines, std::vector<std::string>{c.logged}) << c.line;
    }
}

}  // namespace
}  // namespace kv
