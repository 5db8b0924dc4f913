#include "system_error.hpp"

#include "text.hpp"

namespace kv {

std::string format_system_error(std::string_view message, std::uint32_t code) {
    std::string text(trim_trailing_space(message));
    text += " (os error " + std::to_string(code) + ")";
    return text;
}

}  // namespace kv
