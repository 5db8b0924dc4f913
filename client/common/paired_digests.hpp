#pragma once
// Reads bytes once while computing SHA-256 and BLAKE2b-512 side by side: SHA-256 on the
// reading thread, BLAKE2b-512 on a second thread that follows the bytes as they arrive. An
// installer's checksum and its minisign signature then cost about one digest, not two.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "result.hpp"

namespace kv {

// Bytes that the read fills piece by piece: a large buffer zeroed whole first would cost as
// much as a digest pass before the second thread has anything to do.
class ByteBuffer {
public:
    ByteBuffer() = default;
    explicit ByteBuffer(std::size_t size);
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    void shrink_to(std::size_t size);
    void append(const char* bytes, std::size_t count);
    operator std::string_view() const { return {data_.get(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

struct DigestedBytes {
    ByteBuffer bytes;
    std::string sha256_hex;  // 64 lower-case hex characters
    std::array<std::uint8_t, 64> blake2b_512{};
};

// Fills `into` with up to `room` bytes; 0 at the end; an error text when reading fails.
using ReadSome = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// Reads everything `read_some` gives. `expected_size` is what the source says it holds; bytes
// beyond it are read and digested too (on the reading thread, after the first part).
Result<DigestedBytes> read_with_paired_digests(std::size_t expected_size, const ReadSome& read_some);

}  // namespace kv
