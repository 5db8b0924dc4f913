#include "canonical_path.hpp"

#include <windows.h>

#include <string>

#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {

Result<std::filesystem::path> canonicalize_path(const std::filesystem::path& path) {
    // Backup semantics let a directory be opened too; no access is needed to read its name.
    UniqueFileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return fail(last_error_text());
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return fail(last_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(length + 1);
    }
}

std::wstring without_extended_prefix(std::wstring path) {
    constexpr std::wstring_view prefix = L"\\\\?\\";
    if (path.starts_with(prefix)) path.erase(0, prefix.size());
    return path;
}

}  // namespace kv
