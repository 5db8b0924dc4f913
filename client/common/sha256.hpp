#pragma once
#include <string>
#include <string_view>

namespace kv {

// SHA-256 of the bytes as 64 lower-case hex characters.
std::string sha256_hex(std::string_view bytes);

// Raw 32-byte SHA-256.
std::string sha256_bytes(std::string_view bytes);

}  // namespace kv
