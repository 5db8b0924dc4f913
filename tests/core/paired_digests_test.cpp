// The installer's one read with both digests side by side: whatever pieces the source hands
// out and however its size differs from what it said, the bytes and both digests are those
// of everything read.
#include "paired_digests.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "minisign.hpp"
#include "sha256.hpp"

namespace kv {
namespace {

struct Source {
    std::string content;
    std::size_t largest_piece;
    std::size_t fails_at = std::string::npos;  // offset whose read fails
    std::size_t offset = 0;

    ReadSome reader() {
        return [this](char* into, std::size_t room) -> Result<std::size_t> {
            if (offset >= fails_at) return fail("the device is gone (os error 1167)");
            const std::size_t size = std::min({room, largest_piece, content.size() - offset});
            std::copy_n(content.data() + offset, size, into);
            offset += size;
            return size;
        };
    }
};

std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
    return bytes;
}

TEST(PairedDigests, BothDigestsAreThoseOfExactlyTheBytesRead) {
    const struct {
        const char* name;
        std::size_t size;
        std::size_t said;
        std::size_t largest_piece;
    } cases[] = {
        {"empty", 0, 0, 4096},
        {"one byte at a time", 3000, 3000, 1},
        {"odd pieces across the hand-over size", (3 << 20) + 17, (3 << 20) + 17, 700001},
        {"grew after its size was taken", 200000, 150000, 65536},
        {"shrank after its size was taken", 100000, 150000, 65536},
        {"said nothing", 5000, 0, 4096},
    };
    for (const auto& c : cases) {
        Source source{patterned(c.size), c.largest_piece};
        const auto read = read_with_paired_digests(c.said, source.reader());
        ASSERT_TRUE(read) << c.name << ": " << read.error();
        EXPECT_EQ(std::string_view(read->bytes), source.content) << c.name;
        EXPECT_EQ(read->bytes.size(), source.content.size()) << c.name;
        EXPECT_EQ(read->sha256_hex, sha256_hex(source.content)) << c.name;
        EXPECT_EQ(read->blake2b_512, blake2b_512(source.content)) << c.name;
    }
}

TEST(PairedDigests, AFailedReadIsTheResult) {
    const struct {
        std::size_t said;
        std::size_t fails_at;
    } cases[] = {{3 << 20, 0}, {3 << 20, 1 << 20}, {1 << 20, (2 << 20) + 5} /* in the bytes beyond what it said */};
    for (const auto& c : cases) {
        Source source{patterned(3 << 20), 1 << 16, c.fails_at};
        const auto read = read_with_paired_digests(c.said, source.reader());
        ASSERT_FALSE(read) << c.fails_at;
        EXPECT_EQ(read.error(), "the device is gone (os error 1167)");
    }
}

}  // namespace
}  // namespace kv
