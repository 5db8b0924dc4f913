#include "session_token.hpp"

#include "sha256.hpp"

namespace kv {

std::string format_session_token(const TokenBytes& bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(session_token_length);
    for (const std::uint8_t byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

namespace {

template <class Unsigned>
void append_little_endian(std::string& out, Unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(static_cast<std::uint8_t>(value & 0xFF)));
        value >>= 8;
    }
}

}  // namespace

std::string fallback_entropy_input(std::uint32_t process_id, std::optional<std::uint64_t> unix_nanoseconds,
                                   std::uint64_t buffer_address) {
    std::string input;
    append_little_endian(input, process_id, 4);
    if (unix_nanoseconds) {
        append_little_endian(input, *unix_nanoseconds, 8);
        append_little_endian(input, std::uint64_t{0}, 8);
    }
    append_little_endian(input, buffer_address, 8);
    return input;
}

TokenBytes fallback_token_bytes(std::string_view entropy_input) {
    const std::string digest = sha256_bytes(entropy_input);
    TokenBytes bytes{};
    for (std::size_t i = 0; i < bytes.size() && i < digest.size(); ++i) bytes[i] = static_cast<std::uint8_t>(digest[i]);
    return bytes;
}

std::string ntstatus_text(std::int32_t status) { return "NTSTATUS(" + std::to_string(status) + ")"; }

bool session_token_matches(std::string_view expected, std::string_view presented) {
    if (expected.empty() || expected.size() != presented.size()) return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned char>(expected[i]) ^ static_cast<unsigned char>(presented[i]);
    }
    // Keep the compiler from turning the loop into an early-exit comparison.
    volatile unsigned settled = difference;
    return settled == 0;
}

}  // namespace kv
