#include "installer_digest.hpp"

#include <windows.h>

#include <algorithm>

#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {

Result<DigestedBytes> read_installer_with_digests(const std::filesystem::path& installer) {
    const UniqueFileHandle file(CreateFileW(installer.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return fail(last_error_text());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return fail(last_error_text());
    return read_with_paired_digests(static_cast<std::size_t>(size.QuadPart), [&](char* into, std::size_t room) -> Result<std::size_t> {
        DWORD got = 0;
        if (!ReadFile(file.get(), into, static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)), &got, nullptr)) {
            return fail(last_error_text());
        }
        return static_cast<std::size_t>(got);
    });
}

}  // namespace kv
