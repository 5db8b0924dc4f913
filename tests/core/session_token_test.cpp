#include "session_token.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "sha256.hpp"

namespace kv {
namespace {

TEST(SessionToken, SixtyFourLowerCaseHexDigitsMostSignificantFirst) {
    TokenBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 5);
    bytes[0] = 0x0F;
    bytes[31] = 0xA0;
    const std::string token = format_session_token(bytes);
    EXPECT_EQ(token.size(), session_token_length);
    EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{64}"))) << token;
    EXPECT_EQ(token.substr(0, 2), "0f");
    EXPECT_EQ(token.substr(62), "a0");
    EXPECT_EQ(format_session_token(TokenBytes{}), std::string(64, '0'));
}

TEST(SessionToken, FallbackEntropyLaysOutItsInputsLittleEndian) {
    const std::string with_time = fallback_entropy_input(0x01020304, 0x1122334455667788ull, 0xA1A2A3A4A5A6A7A8ull);
    ASSERT_EQ(with_time.size(), 4u + 16u + 8u);
    EXPECT_EQ(with_time.substr(0, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(with_time.substr(4, 16), std::string("\x88\x77\x66\x55\x44\x33\x22\x11\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(with_time.substr(20), std::string("\xA8\xA7\xA6\xA5\xA4\xA3\xA2\xA1", 8));
    // A clock before 1970 leaves the time out altogether.
    const std::string without_time = fallback_entropy_input(0x01020304, std::nullopt, 0xA1A2A3A4A5A6A7A8ull);
    EXPECT_EQ(without_time, with_time.substr(0, 4) + with_time.substr(20));
}

TEST(SessionToken, FallbackBytesAreTheSha256OfTheInput) {
    const std::string input = fallback_entropy_input(42, 1700000000000000000ull, 0x7FF612340000ull);
    const TokenBytes bytes = fallback_token_bytes(input);
    EXPECT_EQ(format_session_token(bytes), sha256_hex(input));
    // The known digest of "abc" guards against a wrong algorithm.
    EXPECT_EQ(format_session_token(fallback_token_bytes("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_NE(fallback_token_bytes(fallback_entropy_input(43, 1700000000000000000ull, 0x7FF612340000ull)), bytes);
}

TEST(SessionToken, NtStatusIsShownAsASignedNumber) {
    EXPECT_EQ(ntstatus_text(-1073741823), "NTSTATUS(-1073741823)");
    EXPECT_EQ(ntstatus_text(0), "NTSTATUS(0)");
}

TEST(SessionToken, MatchesOnlyTheWholeTokenExactly) {
    const std::string token(64, 'a');
    const struct {
        std::string expected, presented;
        bool matches;
    } cases[] = {
        {token, token, true},
        {token, std::string(63, 'a'), false},
        {token, token + "a", false},
        {token, "", false},
        {token, std::string(63, 'a') + "b", false},
        {token, "b" + std::string(63, 'a'), false},
        {token, std::string(64, 'A'), false},
        {"", "", false},  // a token that was never set admits nobody
        {"", "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(session_token_matches(c.expected, c.presented), c.matches) << c.expected << " vs " << c.presented;
    }
}

}  // namespace
}  // namespace kv
