#include "win_error.hpp"

#include "system_error.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv {

std::string system_error_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    const std::string message = length > 0 && buffer != nullptr ? narrow(std::wstring_view(buffer, length)) : "Unknown error";
    return format_system_error(message, code);
}

std::string last_error_text() { return system_error_text(GetLastError()); }

}  // namespace kv
