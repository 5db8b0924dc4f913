#include <windows.h>

#include "data_paths.hpp"
#include "canonical_path.hpp"
#include "file_io.hpp"
#include "local_files.hpp"
#include "update_decisions.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv::publish {

fs::path path_from_utf8(std::string_view text) { return fs::path(widen(text)); }
std::string utf8_of(const fs::path& path) { return narrow(path.wstring()); }
std::string generic_utf8_of(const fs::path& path) { return narrow(path.generic_wstring()); }

FileBytes read_file_bytes(const fs::path& path) {
    FileRead read = read_whole_file(path);
    FileBytes result;
    result.bytes = std::move(read.bytes);
    result.missing = read.missing();
    if (!read.ok()) result.error = system_error_text(read.error);
    return result;
}

Result<std::chrono::system_clock::time_point> modified_time(const fs::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return fail(last_error_text());
    return from_file_time(data.ftLastWriteTime);
}

bool path_exists(const fs::path& path) { return kv::path_exists(path); }

bool is_link(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

Result<std::string> canonical_text(const fs::path& path) {
    const auto canonical = canonicalize_path(path);
    if (!canonical) return fail(canonical.error());
    return narrow(canonical->wstring());
}

bool canonical_lies_within(std::string_view path, std::string_view folder) { return path_lies_within(path, folder); }

Status write_file_durably(const fs::path& target, std::string_view bytes) {
    const fs::path temporary = target.wstring() + L".kv-publish-tmp";
    if (Status written = write_whole_file(temporary, bytes, true); !written) {
        return fail("cannot write " + utf8_of(temporary) + ": " + written.error());
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return fail("cannot rename " + utf8_of(temporary) + " to " + utf8_of(target) + ": " + last_error_text());
    }
    return ok();
}

Status create_folders(const fs::path& folder) {
    if (Status made = kv::create_folders(folder); !made) return fail("cannot create " + utf8_of(folder) + ": " + made.error());
    return ok();
}

std::optional<fs::path> default_updates_folder() { return updates_dir(); }

void prepare_console() { SetConsoleOutputCP(CP_UTF8); }

}  // namespace kv::publish
