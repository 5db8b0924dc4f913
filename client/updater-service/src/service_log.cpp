#include "service_log.hpp"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <system_error>

#include "canonical_path.hpp"
#include "data_paths.hpp"
#include "log_line.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

std::string stamped_line(std::string_view message) {
    return format_log_line(unix_seconds(std::chrono::system_clock::now()), message);
}

void create_parent_folders(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
}

// One write call per line keeps concurrent writers' lines whole at the end of the file.
void write_file(const std::filesystem::path& file, DWORD access, DWORD disposition, const std::string& content) {
    create_parent_folders(file);
    const UniqueFileHandle handle(CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return;
    DWORD written = 0;
    (void)WriteFile(handle.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
}

}  // namespace

void service_log(std::string_view message) {
    // Appends from several handles are not atomic on every host (Wine loses some when threads
    // race), so the threads of this process take turns; the file is still opened per line.
    static std::mutex turns;
    std::lock_guard lock(turns);
    write_file(logs_dir() / L"updater-service.log", FILE_APPEND_DATA, OPEN_ALWAYS, stamped_line(message));
}

void record_last_error(std::string_view message) {
    service_log(message);
    write_file(updates_dir() / L"last-error.txt", GENERIC_WRITE, CREATE_ALWAYS, stamped_line(message));
}

Result<std::filesystem::path> current_executable() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return fail(last_error_text());
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768) return fail(system_error_text(ERROR_INSUFFICIENT_BUFFER));
        buffer.resize(buffer.size() * 2);
    }
}

Result<std::filesystem::path> install_dir() {
    auto executable = current_executable();
    if (!executable) return fail("current_exe: " + executable.error());
    const std::filesystem::path parent = executable->parent_path();
    if (parent.empty() || parent == *executable) return fail("service exe has no parent dir");
    auto canonical = canonicalize_path(parent);
    if (!canonical) return fail("install dir canonicalize: " + canonical.error());
    return std::move(canonical).value();
}

}  // namespace kv
