#include "sha256.hpp"

#include <gcrypt.h>

#include "crypto_library.hpp"

namespace kv {

std::string sha256_bytes(std::string_view bytes) {
    ensure_crypto_library();
    std::string digest(32, '\0');
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), bytes.data(), bytes.size());
    return digest;
}

std::string sha256_hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (const unsigned char byte : sha256_bytes(bytes)) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

}  // namespace kv
