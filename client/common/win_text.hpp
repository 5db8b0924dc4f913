#pragma once
// UTF-8 <-> UTF-16 at the Windows interfaces (wchar_t is 16 bits there).
#include <string>
#include <string_view>

#include "text.hpp"

namespace kv {

inline std::wstring widen(std::string_view text) {
    const std::u16string wide = utf8_to_utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

inline std::string narrow(std::wstring_view text) {
    return utf16_to_utf8_lossy(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

inline std::wstring to_wstring(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string to_u16string(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

}  // namespace kv
