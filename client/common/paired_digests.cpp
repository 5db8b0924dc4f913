#include "paired_digests.hpp"

#include <gcrypt.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "crypto_library.hpp"

namespace kv {
namespace {

// Large enough that a hand-over costs nothing, small enough that BLAKE2b starts at once.
constexpr std::size_t piece_size = 1 << 20;

class Digest {
public:
    explicit Digest(int algorithm) {
        if (gcry_md_open(&handle_, algorithm, 0) != 0) handle_ = nullptr;
    }
    bool valid() const { return handle_ != nullptr; }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    ~Digest() { gcry_md_close(handle_); }
    void add(const char* bytes, std::size_t size) { gcry_md_write(handle_, bytes, size); }
    const unsigned char* result() { return gcry_md_read(handle_, 0); }

private:
    gcry_md_hd_t handle_ = nullptr;
};

std::string lower_hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

// How far the reader has filled the buffer, for the BLAKE2b thread to follow.
class Progress {
public:
    void publish(std::size_t filled, bool finished) {
        {
            std::lock_guard lock(mutex_);
            filled_ = filled;
            finished_ = finished;
        }
        changed_.notify_one();
    }
    // Waits for bytes beyond `consumed`; returns the new end and whether no more will come.
    std::pair<std::size_t, bool> wait_beyond(std::size_t consumed) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return filled_ > consumed || finished_; });
        return {filled_, finished_};
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;
    bool finished_ = false;
};

}  // namespace

ByteBuffer::ByteBuffer(std::size_t size)
    : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size), capacity_(size) {}

void ByteBuffer::shrink_to(std::size_t size) { size_ = std::min(size, size_); }

void ByteBuffer::append(const char* bytes, std::size_t count) {
    if (size_ + count > capacity_) {
        const std::size_t capacity = std::max(size_ + count, capacity_ * 2);
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        std::copy_n(data_.get(), size_, grown.get());
        data_ = std::move(grown);
        capacity_ = capacity;
    }
    std::copy_n(bytes, count, data_.get() + size_);
    size_ += count;
}

Result<DigestedBytes> read_with_paired_digests(std::size_t expected_size, const ReadSome& read_some) {
    ensure_crypto_library();
    DigestedBytes result;
    result.bytes = ByteBuffer(expected_size);
    Digest sha256(GCRY_MD_SHA256);
    Digest blake2b(GCRY_MD_BLAKE2B_512);
    if (!sha256.valid() || !blake2b.valid()) return fail("digest unavailable");
    Progress progress;
    // Only this thread writes the bytes beyond `filled` and the helper reads only below it;
    // the buffer is never resized while the helper runs.
    std::thread follower;
    try {
        follower = std::thread([&] {
            std::size_t consumed = 0;
            for (;;) {
                const auto [filled, finished] = progress.wait_beyond(consumed);
                blake2b.add(result.bytes.data() + consumed, filled - consumed);
                consumed = filled;
                if (finished) return;
            }
        });
    } catch (const std::system_error&) {
        // No second thread: both digests on this one, as the bytes arrive.
    }

    std::size_t filled = 0;
    Status failure = ok();
    while (filled < expected_size) {
        const std::size_t room = std::min(piece_size, expected_size - filled);
        // Each piece is brought into memory just before it is read, so that cost is spread over
        // the read while the second thread hashes, not paid for the whole buffer beforehand;
        // the read faulting fresh pages in itself was slower still.
        std::memset(result.bytes.data() + filled, 0, room);
        const auto got = read_some(result.bytes.data() + filled, room);
        if (!got) {
            failure = fail(got.error());
            break;
        }
        if (*got == 0) break;
        sha256.add(result.bytes.data() + filled, *got);
        if (!follower.joinable()) blake2b.add(result.bytes.data() + filled, *got);
        filled += *got;
        progress.publish(filled, false);
    }
    progress.publish(filled, true);
    if (follower.joinable()) follower.join();
    if (!failure) return fail(failure.error());
    result.bytes.shrink_to(filled);

    // The source held more than it said: the rest is read and digested here.
    char piece[65536];
    for (;;) {
        const auto got = read_some(piece, sizeof(piece));
        if (!got) return fail(got.error());
        if (*got == 0) break;
        result.bytes.append(piece, *got);
        sha256.add(piece, *got);
        blake2b.add(piece, *got);
    }
    result.sha256_hex = lower_hex(sha256.result(), 32);
    std::copy_n(blake2b.result(), 64, result.blake2b_512.begin());
    return result;
}

}  // namespace kv
