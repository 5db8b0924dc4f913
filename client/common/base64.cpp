#include "base64.hpp"

namespace kv {
namespace {

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> decode_base64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        unsigned value = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            int bits = 0;
            if (c == '=') {
                if (!last || j < 4 - padding) return std::nullopt;
            } else {
                bits = sextet(c);
                if (bits < 0) return std::nullopt;
            }
            value = (value << 6) | static_cast<unsigned>(bits);
        }
        const size_t bytes = last ? 3 - padding : 3;
        // Bits below the last encoded byte must be zero, or two texts would mean one value.
        if (last && padding > 0 && (value & ((1u << (8 * padding)) - 1)) != 0) return std::nullopt;
        for (size_t k = 0; k < bytes; ++k) out.push_back(static_cast<char>((value >> (16 - 8 * k)) & 0xFF));
    }
    return out;
}

}  // namespace kv
