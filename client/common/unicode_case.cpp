#include "unicode_case.hpp"

#include <windows.h>

#include "win_text.hpp"

namespace kv {

std::string unicode_lower(std::string_view text) {
    std::wstring wide = widen(text);
    if (wide.empty()) return {};
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr, 0);
    if (length <= 0) return narrow(wide);
    std::wstring lower(static_cast<std::size_t>(length), L'\0');
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), static_cast<int>(wide.size()), lower.data(), length,
                  nullptr, nullptr, 0);
    return narrow(lower);
}

}  // namespace kv
