#include "command_line.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct QuoteCase {
    std::u16string argument;
    std::u16string expected;
};

TEST(QuoteWindowsArgument, QuotesOnlyWhatTheSplitterWouldBreak) {
    const QuoteCase cases[] = {
        {u"/IM", u"/IM"},
        {u"", u"\"\""},
        {u"IMAGENAME eq a b.exe", u"\"IMAGENAME eq a b.exe\""},
        {u"C:\\Program Files\\", u"\"C:\\Program Files\\\\\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"a\\\"b", u"\"a\\\\\\\"b\""},
        {u"C:\\dir\\file", u"C:\\dir\\file"},
        {u"tab\there", u"\"tab\there\""},
        {u"\"C:\\x y\\u.exe\" service", u"\"\\\"C:\\x y\\u.exe\\\" service\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(quote_windows_argument(c.argument), c.expected);
    }
}

TEST(BuildCommandLine, JoinsQuotedProgramAndArguments) {
    EXPECT_EQ(build_command_line(u"C:\\Windows\\System32\\tasklist.exe", {u"/FI", u"IMAGENAME eq x.exe", u"/NH"}),
              u"C:\\Windows\\System32\\tasklist.exe /FI \"IMAGENAME eq x.exe\" /NH");
    EXPECT_EQ(build_command_line(u"C:\\Program Files\\a.exe", {}), u"\"C:\\Program Files\\a.exe\"");
}

}  // namespace
}  // namespace kv
