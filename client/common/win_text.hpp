#pragma once
// UTF-8 <-> UTF-16 at the Windows interfaces (wchar_t is 16 bits there).
#include <string>
#include <string_view>
#include <vector>

#include "command_line.hpp"
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

// The command line CreateProcessW needs for these separate arguments.
inline std::wstring windows_command_line(std::wstring_view program, const std::vector<std::wstring>& arguments) {
    std::vector<std::u16string> wide;
    wide.reserve(arguments.size());
    for (const auto& argument : arguments) wide.push_back(to_u16string(argument));
    return to_wstring(build_command_line(to_u16string(program), wide));
}

}  // namespace kv
