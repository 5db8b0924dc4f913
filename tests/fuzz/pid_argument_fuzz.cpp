// "KILL {pid}": the pid parser against a plain reference, and the image stem on any path.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "process_termination_rules.hpp"

namespace {

std::optional<std::uint32_t> reference(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const std::size_t first = text.find_first_not_of('0');
    const std::string_view digits = first == std::string_view::npos ? std::string_view("0") : text.substr(first);
    if (digits.size() > 10) return std::nullopt;
    const std::uint64_t value = std::stoull(std::string(digits));
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = kv::parse_pid(text);
    if (parsed != reference(text)) __builtin_trap();
    if (parsed && kv::parse_pid(std::to_string(*parsed)) != parsed) __builtin_trap();

    const std::string stem = kv::image_stem(text);
    if (stem.size() > text.size()) __builtin_trap();
    if (stem.find_first_of("\\/") != std::string::npos) __builtin_trap();
    (void)kv::is_protected_product_name(stem);
    (void)kv::is_protected_system_name(stem);
    return 0;
}
