#include "file_io.hpp"

#include <system_error>

#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

constexpr std::int64_t unix_epoch_as_file_time = 116444736000000000LL;

}  // namespace

Status write_all_bytes(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return fail(last_error_text());
        bytes.remove_prefix(written);
    }
    return ok();
}

FileRead read_whole_file(const std::filesystem::path& path) {
    FileRead read;
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        read.error = GetLastError();
        return read;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.get(), &size)) read.bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) {
            read.error = GetLastError();
            read.bytes.clear();
            return read;
        }
        if (got == 0) break;
        read.bytes.append(buffer, got);
    }
    return read;
}

Status write_whole_file(const std::filesystem::path& path, std::string_view bytes, bool flush) {
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return fail(last_error_text());
    if (Status written = write_all_bytes(file.get(), bytes); !written) return written;
    if (flush && !FlushFileBuffers(file.get())) return fail(last_error_text());
    return ok();
}

Status write_new_file_flushed(const std::filesystem::path& path, std::string_view bytes) {
    const UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return fail(last_error_text());
    if (Status written = write_all_bytes(file.get(), bytes); !written) return written;
    if (!FlushFileBuffers(file.get())) return fail(last_error_text());
    return ok();
}

std::chrono::system_clock::time_point from_file_time(const FILETIME& time) {
    const std::int64_t ticks = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds((ticks - unix_epoch_as_file_time) * 100)));
}

FILETIME to_file_time(std::chrono::system_clock::time_point time) {
    const std::int64_t ticks =
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count() / 100 + unix_epoch_as_file_time;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    result.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return result;
}

std::optional<std::chrono::system_clock::time_point> file_modified_time(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return from_file_time(data.ftLastWriteTime);
}

bool path_exists(const std::filesystem::path& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Status create_folders(const std::filesystem::path& folder) {
    if (folder.empty()) return ok();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ok();
        return fail(system_error_text(ERROR_ALREADY_EXISTS));
    }
    const std::filesystem::path parent = folder.parent_path();
    if (parent != folder) {
        if (Status made = create_folders(parent); !made) return made;
    }
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return fail(last_error_text());
    return ok();
}

}  // namespace kv
