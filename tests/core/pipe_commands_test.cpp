#include "pipe_commands.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

std::string outcome(std::string_view bytes) {
    const auto command = parse_pipe_command(decode_request(bytes));
    if (!command) return "ERR " + command.error();
    return std::to_string(static_cast<int>(command->kind)) + ":" + command->argument;
}

std::string kind(PipeCommandKind k, std::string argument = {}) { return std::to_string(static_cast<int>(k)) + ":" + argument; }

TEST(PipeCommands, EveryRowOfTheCommandTable) {
    const struct {
        std::string_view request;
        std::string expected;
    } cases[] = {
        {"PING", kind(PipeCommandKind::ping)},
        {"PING extra words", kind(PipeCommandKind::ping)},
        {"HEARTBEAT", kind(PipeCommandKind::heartbeat)},
        {"KILL 42", kind(PipeCommandKind::kill, "42")},
        {"KILL +42 7", kind(PipeCommandKind::kill, "+42")},
        {"KILL", "ERR KILL needs a pid"},
        {"kill 12", "ERR unknown command 'kill'"},
        {"SETTIME 1800000000", kind(PipeCommandKind::set_time, "1800000000")},
        {"SETTIME", "ERR SETTIME needs an epoch"},
        {"DNSPOLICY on", kind(PipeCommandKind::dns_policy_on)},
        {"DNSPOLICY off", kind(PipeCommandKind::dns_policy_off)},
        {"DNSPOLICY", "ERR DNSPOLICY needs on or off"},
        {"DNSPOLICY ON", "ERR DNSPOLICY mode must be on or off, got 'ON'"},
        {"SUPERVISE off", kind(PipeCommandKind::supervise_off)},
        {"SUPERVISE", "ERR SUPERVISE needs off"},
        {"SUPERVISE on", "ERR SUPERVISE mode must be off, got 'on'"},
        {"WATCHDOG managed", kind(PipeCommandKind::watchdog_managed)},
        {"WATCHDOG stop", kind(PipeCommandKind::watchdog_stop)},
        {"WATCHDOG", "ERR WATCHDOG mode must be managed or stop, got ''"},
        {"WATCHDOG Stop", "ERR WATCHDOG mode must be managed or stop, got 'Stop'"},
        {"VPRINTER ensure", kind(PipeCommandKind::virtual_printer_ensure)},
        {"VPRINTER", "ERR VPRINTER mode must be ensure, got ''"},
        {"VPRINTER add", "ERR VPRINTER mode must be ensure, got 'add'"},
        {"WEBFILTER ensure", kind(PipeCommandKind::web_filter_ensure)},
        {"WEBFILTER", "ERR WEBFILTER mode must be ensure, got ''"},
        {"", "ERR empty request"},
        {" \r\n\t ", "ERR empty request"},
        {"Ping", "ERR unknown command 'Ping'"},
        {"\xE2\x80\x83PING\xE3\x80\x80", kind(PipeCommandKind::ping)},  // em space, ideographic space
        {"PING\x85" "x", "ERR unknown command 'PING\xEF\xBF\xBD" "x'"},      // a lone 0x85 byte is no white space
        {"\xFF", "ERR unknown command '\xEF\xBF\xBD'"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.request), c.expected) << c.request;
}

TEST(PipeCommands, NulBytesAreOrdinaryCharacters) {
    EXPECT_EQ(outcome(std::string_view("PI\0NG", 5)), std::string("ERR unknown command 'PI\0NG'", 27));
}

TEST(PipeCommands, DecodingTrimsUnicodeWhiteSpaceOnlyAtTheEnds) {
    EXPECT_EQ(decode_request("  KILL\t42 \r\n"), "KILL\t42");
    EXPECT_EQ(decode_request("\xC2\xA0" "a b\xE2\x80\xA8"), "a b");  // no-break space, line separator
    EXPECT_EQ(decode_request("\xC2\xA0\xC2\xA0"), "");
    EXPECT_EQ(decode_request("\xC0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // an overlong NUL is no white space
}

TEST(PipeCommands, TokensAreRunsBetweenAnyWhiteSpace) {
    const auto tokens = tokenise_request("a\x0B" "b\x0C" "c\xE2\x80\x8A" "d\xC2\x85" "e");
    EXPECT_EQ(tokens, (std::vector<std::string_view>{"a", "b", "c", "d", "e"}));
    EXPECT_TRUE(tokenise_request("").empty());
    EXPECT_EQ(tokenise_request("\xE2\x80\x8B"), (std::vector<std::string_view>{"\xE2\x80\x8B"}));  // zero width space is not white
}

}  // namespace
}  // namespace kv
