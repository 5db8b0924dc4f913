#include "text.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct Utf16Case {
    const char* name;
    std::u16string input;
    std::string expected;
};

TEST(Utf16ToUtf8Lossy, ConvertsPairsAndReplacesLoneSurrogates) {
    const Utf16Case cases[] = {
        {"empty", u"", ""},
        {"ascii", u"Kestrivon-Client.exe", "Kestrivon-Client.exe"},
        {"two and three bytes", u"\u00e9\u20ac", "\xC3\xA9\xE2\x82\xAC"},
        {"surrogate pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {"lone high at end", u"a\xD800", "a\xEF\xBF\xBD"},
        {"lone low", u"\xDC00z", "\xEF\xBF\xBDz"},
        {"high then high then low", u"\xD800\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"reversed pair", u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf16_to_utf8_lossy(c.input), c.expected) << c.name;
}

struct Utf8Case {
    const char* name;
    std::string input;
    std::string expected;
};

TEST(Utf8Lossy, ReplacesEachInvalidSequence) {
    const Utf8Case cases[] = {
        {"valid", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"stray continuation", "a\x80" "b", "a\xEF\xBF\xBD" "b"},
        {"truncated three-byte", "\xE2\x82", "\xEF\xBF\xBD"},
        {"truncated then ascii", "\xE2\x82z", "\xEF\xBF\xBDz"},
        {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"encoded surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"invalid lead", "\xFF", "\xEF\xBF\xBD"},
        {"four-byte valid", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_lossy(c.input), c.expected) << c.name;
}

TEST(Utf8ToUtf16, RoundTripsValidTextAndReplacesInvalid) {
    const std::string text = "Z:\\caf\xC3\xA9\\\xF0\x9F\x98\x80.exe";
    EXPECT_EQ(utf16_to_utf8_lossy(utf8_to_utf16(text)), text);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), std::u16string(u"\xD83D\xDE00"));
    EXPECT_EQ(utf8_to_utf16("a\xFF"), std::u16string(u"a\xFFFD"));
}

TEST(AsciiCase, LowersOnlyAsciiLetters) {
    EXPECT_EQ(ascii_lower("KESTRIVON-Client.EXE \xC3\x89"), "kestrivon-client.exe \xC3\x89");
    EXPECT_TRUE(equals_ignoring_ascii_case("Kestrivon-Client.exe", "KESTRIVON-CLIENT.EXE"));
    EXPECT_FALSE(equals_ignoring_ascii_case("Kestrivon-Client.exe", "Kestrivon-Client.ex"));
}

TEST(TrimTrailingSpace, RemovesLineEndsAndBlanksOnlyAtTheEnd) {
    EXPECT_EQ(trim_trailing_space("Access is denied.\r\n"), "Access is denied.");
    EXPECT_EQ(trim_trailing_space(" a b \t\v\f"), " a b");
    EXPECT_EQ(trim_trailing_space("\r\n"), "");
}

}  // namespace
}  // namespace kv
