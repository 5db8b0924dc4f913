#include "data_paths.hpp"

#include <windows.h>

#include <optional>
#include <string>

namespace kv {
namespace {

std::optional<std::wstring> environment_variable(const wchar_t* name) {
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        // 0 with "not found" means unset; 0 otherwise means set but empty.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::wstring();
    }
    std::wstring value(size, L'\0');
    size = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(size);
    return value;
}

}  // namespace

std::filesystem::path program_data_base() {
    if (auto value = environment_variable(L"ProgramData")) return *value;
    return L"C:\\ProgramData";
}

std::filesystem::path data_root() { return program_data_base() / L"Kestrivon" / L"Client"; }
std::filesystem::path logs_dir() { return data_root() / L"logs"; }
std::filesystem::path updates_dir() { return data_root() / L"updates"; }

std::filesystem::path windows_directory() {
    if (auto value = environment_variable(L"SystemRoot")) return *value;
    if (auto value = environment_variable(L"windir")) return *value;
    return L"C:\\Windows";
}

std::filesystem::path system_directory() {
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return windows_directory() / L"System32";
    return std::wstring(buffer, length);
}

}  // namespace kv
