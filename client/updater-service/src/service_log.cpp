#include "service_log.hpp"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>

#include "canonical_path.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "link_safe_files.hpp"
#include "log_line.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

std::string stamped_line(std::string_view message) {
    return format_log_line(unix_seconds(std::chrono::system_clock::now()), message);
}

// The log and last-error.txt lie on the customer's side: never written through a link, and
// not at all below a data folder that is a link.
bool folders_are_ours(const std::filesystem::path& file) {
    const std::filesystem::path root = data_root();
    if (!refuse_linked_folders({root.parent_path(), root, file.parent_path()})) return false;
    return static_cast<bool>(create_folders(file.parent_path()));
}

void append_line(const std::filesystem::path& file, const std::string& line) {
    if (folders_are_ours(file)) (void)append_file_no_follow(file, line);
}

void replace_content(const std::filesystem::path& file, const std::string& content) {
    if (folders_are_ours(file)) (void)write_file_no_follow(file, content);
}

}  // namespace

void service_log(std::string_view message) {
    // Appends from several handles are not atomic on every host (Wine loses some when threads
    // race), so the threads of this process take turns; the file is still opened per line.
    static std::mutex turns;
    std::lock_guard lock(turns);
    append_line(logs_dir() / L"updater-service.log", stamped_line(message));
}

void record_last_error(std::string_view message) {
    service_log(message);
    replace_content(updates_dir() / L"last-error.txt", stamped_line(message));
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
