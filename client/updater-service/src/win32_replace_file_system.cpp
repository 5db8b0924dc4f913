#include "win32_replace_file_system.hpp"

#include <windows.h>

#include "file_io.hpp"
#include "win_error.hpp"

namespace kv {

bool Win32ReplaceFileSystem::exists(const std::filesystem::path& path) { return path_exists(path); }

Status Win32ReplaceFileSystem::create_folders(const std::filesystem::path& folder) { return kv::create_folders(folder); }

Status Win32ReplaceFileSystem::write_flushed(const std::filesystem::path& path, std::string_view bytes) {
    return write_whole_file(path, bytes, true);
}

Status Win32ReplaceFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace_existing) {
    if (!MoveFileExW(from.c_str(), to.c_str(), replace_existing ? MOVEFILE_REPLACE_EXISTING : 0)) return fail(last_error_text());
    return ok();
}

Status Win32ReplaceFileSystem::remove(const std::filesystem::path& path) {
    if (!DeleteFileW(path.c_str())) return fail(last_error_text());
    return ok();
}

}  // namespace kv
