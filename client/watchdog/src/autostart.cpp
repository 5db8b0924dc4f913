#include "autostart.hpp"

#include <windows.h>

#include <string>

#include "process_scan.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

// Only the bytes count, not the string type: a value written by hand or by another tool as
// REG_EXPAND_SZ or REG_MULTI_SZ with exactly the path is left as it is.
bool value_equals(HKEY key, const std::wstring& expected) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, autostart_value_name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
        return false;
    }
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, autostart_value_name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return false;
    }
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0') data.pop_back();
    return data == expected;
}

}  // namespace

void register_autostart_entry(const WatchdogLog& log) {
    const auto executable = running_executable_path();
    if (!executable) return;
    UniqueRegistryKey run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, run_key_path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, run.put()) != ERROR_SUCCESS) return;
    if (value_equals(run.get(), *executable)) return;
    const auto bytes = static_cast<DWORD>((executable->size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(run.get(), autostart_value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(executable->c_str()), bytes) ==
        ERROR_SUCCESS) {
        log(LogStream::out, "Registered in autostart");
    }
}

void remove_autostart_entry(const WatchdogLog& log) {
    UniqueRegistryKey run;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, run_key_path, 0, KEY_SET_VALUE, run.put()) != ERROR_SUCCESS) return;
    const LSTATUS deleted = RegDeleteValueW(run.get(), autostart_value_name);
    if (deleted == ERROR_SUCCESS) {
        log(LogStream::out, "Autostart entry removed");
    } else {
        log(LogStream::err, "Cannot remove autostart entry: " + system_error_text(static_cast<DWORD>(deleted)));
    }
}

}  // namespace kv
