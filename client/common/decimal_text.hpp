#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// Decimal 0..4294967295 with one optional leading "+" and nothing else; leading zeros allowed.
std::optional<std::uint32_t> parse_unsigned32(std::string_view text);

}  // namespace kv
