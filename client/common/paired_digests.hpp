#pragma once
// Reads bytes once while computing SHA-256 and BLAKE2b-512 side by side: SHA-256 on the
// reading thread, BLAKE2b-512 on a second thread that follows the bytes as they arrive. An
// installer's checksum and its minisign signature then cost about one digest, not two.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "result.hpp"

namespace kv {

struct DigestedBytes {
    std::string bytes;
    std::string sha256_hex;  // 64 lower-case hex characters
    std::array<std::uint8_t, 64> blake2b_512{};
};

// Fills `into` with up to `room` bytes; 0 at the end; an error text when reading fails.
using ReadSome = std::function<Result<std::size_t>(char* into, std::size_t room)>;

// Reads everything `read_some` gives. `expected_size` is what the source says it holds; bytes
// beyond it are read and digested too (on the reading thread, after the first part).
Result<DigestedBytes> read_with_paired_digests(std::size_t expected_size, const ReadSome& read_some);

}  // namespace kv
