#include "unicode_case.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

struct LowerCase {
    const char* name;
    const char* input;
    const char* expected;
};

TEST(UnicodeLower, FullLowerCaseBeyondAscii) {
    const LowerCase cases[] = {
        {"ascii", "C:\\Program Files\\KESTRIVON-Client.EXE", "c:\\program files\\kestrivon-client.exe"},
        {"latin-1", "CAF\u00c9 \u00c0\u00de", "caf\u00e9 \u00e0\u00fe"},
        {"sharp s has no single capital", "STRA\u00dfE", "stra\u00dfe"},
        {"capital I with dot keeps its dot", "\u0130STANBUL", "i\u0307stanbul"},
        {"dotless i stays", "\u0131", "\u0131"},
        {"kelvin sign", "\u212a", "k"},
        {"titlecase digraph", "\u01c5", "\u01c6"},
        {"cyrillic", "\u041a\u0415\u0421\u0422", "\u043a\u0435\u0441\u0442"},
        {"deseret, outside the BMP", "\U00010400\U00010427", "\U00010428\U0001044f"},
        {"osage", "\U000104b0", "\U000104d8"},
        {"adlam", "\U0001e900", "\U0001e922"},
        {"uncased letters and digits", "\u6f22\u5b57 123 \U0001f600", "\u6f22\u5b57 123 \U0001f600"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(unicode_lower(c.input), c.expected) << c.name;
}

TEST(UnicodeLower, CapitalSigmaTakesTheFinalFormAtTheEndOfAWord) {
    const LowerCase cases[] = {
        {"end of word", "\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2"},
        {"before a backslash", "C:\\\u039f\u0394\u039f\u03a3\\A", "c:\\\u03bf\u03b4\u03bf\u03c2\\a"},
        {"inside a word", "\u0391\u03a3\u0391", "\u03b1\u03c3\u03b1"},
        {"alone", "\u03a3", "\u03c3"},
        {"after a separator", "\\\u03a3.exe", "\\\u03c3.exe"},
        {"case-ignorable before", "\u0391'\u03a3", "\u03b1'\u03c2"},
        {"case-ignorable then a letter after", "\u0391\u03a3'\u0391", "\u03b1\u03c3'\u03b1"},
        {"combining accent after", "\u0391\u03a3\u0301", "\u03b1\u03c2\u0301"},
        {"two in a row", "\u0391\u03a3\u03a3", "\u03b1\u03c3\u03c2"},
    };
    for (const auto& c : cases) EXPECT_EQ(unicode_lower(c.input), c.expected) << c.name;
}

TEST(UnicodeLower, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(unicode_lower("A\xC3"), "a\xEF\xBF\xBD");
    EXPECT_EQ(unicode_lower("\xED\xA0\x80Z"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");
}

TEST(UnicodeLower, PathsSpelledInOtherCasesCompareEqual) {
    EXPECT_EQ(unicode_lower("C:\\Caf\u00e9\\\u03a3\u03a9\\\U00010400.exe"), unicode_lower("c:\\CAF\u00c9\\\u03c3\u03c9\\\U00010428.EXE"));
    // The dotted capital lowers to i with a dot above, so it never meets the plain I.
    EXPECT_NE(unicode_lower("\u0130.exe"), unicode_lower("I.exe"));
}

}  // namespace
}  // namespace kv
