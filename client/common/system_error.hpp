#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// "{message} (os error {code})", the message without its trailing white space.
std::string format_system_error(std::string_view message, std::uint32_t code);

// The text shown for every failed service-manager call.
inline constexpr std::string_view service_manager_error_text = "IO error in winapi call";

}  // namespace kv
