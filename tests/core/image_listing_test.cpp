#include "image_listing.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ListingMentionsImage, MatchesAnywhereIgnoringAsciiCase) {
    const struct {
        const char* output;
        const char* image;
        bool expected;
    } cases[] = {
        {"\r\nKESTRIVON-CLIENT.EXE          4242 Console    1     10,000 K\r\n", "Kestrivon-Client.exe", true},
        {"Kestrivon-Client.exe 1 Console", "KESTRIVON-CLIENT.EXE", true},
        {"INFO: No tasks are running which match the specified criteria.\r\n", "Kestrivon-Client.exe", false},
        {"", "Kestrivon-Client.exe", false},
        {"Kestrivon-Client.ex\xFF", "Kestrivon-Client.exe", false},
        {"\xFFKestrivon-Watchdog.exe", "kestrivon-watchdog.exe", true},
    };
    for (const auto& c : cases) EXPECT_EQ(listing_mentions_image(c.output, c.image), c.expected) << c.output;
}

}  // namespace
}  // namespace kv
