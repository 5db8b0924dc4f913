#pragma once
// The per-run secret a pipe client proves it knows: 32 random bytes as 64 hex digits.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

using TokenBytes = std::array<std::uint8_t, 32>;

inline constexpr std::size_t session_token_length = 64;
inline constexpr std::string_view token_file_name = "watchdog.token";

// Two lower-case hex digits per byte, most significant digit first, no separators.
std::string format_session_token(const TokenBytes& bytes);

// Stand-in entropy when the system generator fails: SHA-256 of the process id (4 bytes),
// the nanoseconds since 1970 (16 bytes, left out when the clock reads earlier) and the
// address of the token buffer (8 bytes), all little-endian. The time field is 16 bytes wide;
// a 64-bit count fills it until the year 2554.
std::string fallback_entropy_input(std::uint32_t process_id, std::optional<std::uint64_t> unix_nanoseconds,
                                   std::uint64_t buffer_address);
TokenBytes fallback_token_bytes(std::string_view entropy_input);

// "NTSTATUS(-1073741823)": how a failed generator status is shown.
std::string ntstatus_text(std::int32_t status);

// Same length and every byte equal; always walks the whole text, so the time taken does not
// tell where the first difference lies. An empty expected token never matches.
bool session_token_matches(std::string_view expected, std::string_view presented);

}  // namespace kv
