// The station SDK's request framing, reply parsing, token check and watchdog lines, as a
// client sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "station_protocol.hpp"
#include "station_settings.hpp"

namespace kv::station {
namespace {

TEST(StationRequests, OnlyRequestsThatFitOneMessageGoOut) {
    const struct {
        std::string request;
        kv_status status;
        std::string text;
    } cases[] = {
        {"PING", KV_OK, ""},
        {std::string(512, 'A'), KV_OK, ""},
        {std::string(513, 'A'), KV_ERR_TOO_LONG,
         "the request is 513 bytes, more than the 512 the privileged pipe takes: nothing was sent"},
        {"", KV_ERR_ARGUMENT, "the request is empty: nothing was sent"},
        // White space alone reaches the service, which answers "ERR empty request" itself.
        {" \r\n", KV_OK, ""},
    };
    for (const auto& c : cases) {
        const Answer checked = check_request(c.request);
        EXPECT_EQ(checked.status, c.status) << c.request.size();
        EXPECT_EQ(checked.text, c.text) << c.request.size();
    }
}

TEST(StationReplies, OneLineOfOkOrErrAndNothingElse) {
    const struct {
        std::string message;
        kv_status status;
        std::string text;
    } cases[] = {
        {"OK\n", KV_OK, "OK"},
        {"OK 4242\n", KV_OK, "OK 4242"},
        {"OK in progress\n", KV_OK, "OK in progress"},
        {"ERR target not found\n", KV_ERR_REPLY, "ERR target not found"},
        {"ERR WATCHDOG mode must be managed or stop, got ''\n", KV_ERR_REPLY, "ERR WATCHDOG mode must be managed or stop, got ''"},
        {"OK", KV_ERR_PROTOCOL, "the reply is not one line: OK"},
        {"", KV_ERR_PROTOCOL, "the reply is not one line: "},
        {"OK\nOK\n", KV_ERR_PROTOCOL, "the reply is not one line: OK\\nOK\\n"},
        {"OK\r\n", KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: OK\\r"},
        {"OKAY\n", KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: OKAY"},
        {"ERR\n", KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: ERR"},
        {"ok\n", KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: ok"},
        {std::string("\x01OK\n"), KV_ERR_PROTOCOL, "the reply is neither OK nor ERR: \\x01OK"},
    };
    for (const auto& c : cases) {
        const Answer reply = parse_reply(c.message);
        EXPECT_EQ(reply.status, c.status) << c.message;
        EXPECT_EQ(reply.text, c.text) << c.message;
    }
    EXPECT_EQ(parse_reply(std::string(300, 'x')).text, "the reply is not one line: " + std::string(200, 'x') + "...");
}

TEST(StationReplies, CountsAndEnsureOutcomesAreReadFromTheOkLine) {
    EXPECT_EQ(reply_count("OK 8"), 8ul);
    EXPECT_EQ(reply_count("OK 0"), 0ul);
    EXPECT_EQ(reply_count("OK 4294967295"), 4294967295ul);
    for (const char* bad : {"OK", "OK ", "OK 4294967296", "OK 8 values", "OK -1", "ERR 8"}) EXPECT_FALSE(reply_count(bad)) << bad;
    EXPECT_EQ(ensure_in_progress("OK queued"), false);
    EXPECT_EQ(ensure_in_progress("OK in progress"), true);
    for (const char* bad : {"OK", "OK Queued", "ERR queued"}) EXPECT_FALSE(ensure_in_progress(bad)) << bad;
}

TEST(StationToken, ExactlySixtyFourLowerCaseHexCharacters) {
    const std::string token = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    EXPECT_EQ(check_token(token).status, KV_OK);
    EXPECT_EQ(check_token(token).text, token);
    const struct {
        std::string bytes;
        std::string reason;
    } refused[] = {
        {"", "found 0 bytes"},
        {token.substr(1), "found 63 bytes"},
        {token + "\n", "found 65 bytes"},
        {"0123456789ABCDEF" + token.substr(16), "found 'A' at position 11"},
        {token.substr(0, 63) + " ", "found ' ' at position 64"},
        {token.substr(0, 63) + "\r", "found '\\r' at position 64"},
    };
    for (const auto& c : refused) {
        const Answer checked = check_token(c.bytes);
        EXPECT_EQ(checked.status, KV_ERR_TOKEN) << c.bytes;
        EXPECT_EQ(checked.text, "expected 64 lower-case hexadecimal characters, " + c.reason);
    }
}

TEST(StationWatchdogLines, EveryCommandIsItsWireWordAndOutsideValuesHaveNone) {
    const std::vector<std::string> commands = {"KIOSK_ON\n", "KIOSK_OFF\n", "SHUTDOWN_GUARD_ON\n", "SHUTDOWN_GUARD_OFF\n",
                                               "WIN_KEY_GUARD_ON\n", "WIN_KEY_GUARD_OFF\n", "HEARTBEAT\n"};
    for (std::size_t i = 0; i < commands.size(); ++i) EXPECT_EQ(command_line(static_cast<kv_watchdog_command>(i)), commands[i]);
    EXPECT_FALSE(command_line(static_cast<kv_watchdog_command>(7)));
    EXPECT_FALSE(command_line(static_cast<kv_watchdog_command>(-1)));
    const std::vector<std::string> exits = {"ADMIN_EXIT\n", "SERVER_EXIT\n", "UNINSTALL\n", "SERVER_SHUTDOWN\n", "SERVER_REBOOT\n",
                                            "SERVER_LOGOFF\n"};
    for (std::size_t i = 0; i < exits.size(); ++i) EXPECT_EQ(exit_line(static_cast<kv_watchdog_exit_command>(i)), exits[i]);
    EXPECT_FALSE(exit_line(static_cast<kv_watchdog_exit_command>(6)));
}

TEST(StationWatchdogLines, LinesAreCutAtLineFeedsWhateverTheReads) {
    const struct {
        std::vector<std::string> reads;
        std::vector<std::string> lines;
        const char* name;
    } cases[] = {
        {{"WATCHDOG_READY\n"}, {"WATCHDOG_READY"}, "one line"},
        {{"WATCH", "DOG_RE", "ADY\n"}, {"WATCHDOG_READY"}, "split over reads"},
        {{"WATCHDOG_READY\nEXIT_ACK\n"}, {"WATCHDOG_READY", "EXIT_ACK"}, "two in one read"},
        {{"WATCHDOG_READY\nEXIT"}, {"WATCHDOG_READY"}, "a partial line waits"},
        {{"\n"}, {""}, "an empty line is handed out as it came"},
        {{"EXIT_ACK\r\n"}, {"EXIT_ACK\r"}, "nothing is trimmed"},
    };
    for (const auto& c : cases) {
        WatchdogLines lines;
        std::vector<std::string> got;
        for (const auto& read : c.reads) {
            lines.append(read);
            while (auto line = lines.next_line()) got.push_back(*line);
        }
        EXPECT_EQ(got, c.lines) << c.name;
    }
}

TEST(StationText, CopiesCutAtCharacterBoundariesAndAlwaysEndInNul) {
    const struct {
        std::string text;
        std::size_t size;
        std::string copied;
    } cases[] = {
        {"OK 8", 16, "OK 8"},
        {"OK 8", 5, "OK 8"},
        {"OK 8", 4, "OK "},
        {"OK 8", 1, ""},
        {"caf\xC3\xA9", 5, "caf"},           // the two bytes of é do not both fit
        {"caf\xC3\xA9", 6, "caf\xC3\xA9"},
        {"\xE2\x82\xAC\xE2\x82\xAC", 6, "\xE2\x82\xAC"},  // the second € would need 3 more
    };
    for (const auto& c : cases) {
        std::vector<char> buffer(c.size + 1, '#');
        copy_text(c.text, buffer.data(), c.size);
        EXPECT_EQ(std::string(buffer.data()), c.copied) << c.text << " into " << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the buffer";
    }
    copy_text("ignored", nullptr, 10);
    char untouched = '#';
    copy_text("ignored", &untouched, 0);
    EXPECT_EQ(untouched, '#');
}

TEST(StationSettings, ZeroAndNullTakeTheDefaultsAndTheBeatStaysSafe) {
    kv_options options{};
    options.privileged_pipe = L"";
    options.watchdog_pipe = L"\\\\.\\pipe\\other";
    options.reply_timeout_ms = 250;
    const Settings some = settings_from(&options);
    EXPECT_EQ(some.privileged_pipe, settings_from(nullptr).privileged_pipe) << "an empty name is no name";
    EXPECT_EQ(some.watchdog_pipe, L"\\\\.\\pipe\\other");
    EXPECT_EQ(some.reply_timeout.count(), 250);
    EXPECT_EQ(some.busy_timeout, settings_from(nullptr).busy_timeout);

    const struct {
        unsigned long given;
        long long used;
    } beats[] = {{1, 100}, {100, 100}, {20000, 20000}, {30000, 30000}, {90000, 30000}};
    for (const auto& beat : beats) {
        options.heartbeat_interval_ms = beat.given;
        EXPECT_EQ(settings_from(&options).heartbeat_interval.count(), beat.used) << beat.given;
    }
}

}  // namespace
}  // namespace kv::station
