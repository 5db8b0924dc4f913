#include "link_safe_files.hpp"

#include <atomic>
#include <cstring>
#include <memory>

#include "file_io.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD no_follow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

std::string text_of(const std::filesystem::path& path) { return narrow(path.wstring()); }

bool is_missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

UniqueFileHandle open_no_follow(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition,
                                DWORD flags = no_follow) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

Status mark_for_deletion(HANDLE node) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(node, FileDispositionInfo, &disposition, sizeof(disposition))) return ok();
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED) {
        // A read-only file refuses deletion until the attribute is lifted, through the same handle.
        FILE_BASIC_INFO basic{};
        if (GetFileInformationByHandleEx(node, FileBasicInfo, &basic, sizeof(basic)) &&
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            if (SetFileInformationByHandle(node, FileBasicInfo, &basic, sizeof(basic)) &&
                SetFileInformationByHandle(node, FileDispositionInfo, &disposition, sizeof(disposition))) {
                return ok();
            }
            error = GetLastError();
        }
    }
    return fail(system_error_text(error));
}

// The names in a folder, read through its handle so the listing is of the folder we hold.
Result<std::vector<std::pair<std::wstring, NodeFacts>>> list_children(HANDLE folder) {
    std::vector<std::pair<std::wstring, NodeFacts>> children;
    alignas(8) static thread_local std::byte buffer[64 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) return children;
            return fail(system_error_text(error));
        }
        kind = FileIdBothDirectoryInfo;
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (is_plain_child_name(name)) children.emplace_back(name, facts_from_attributes(entry->FileAttributes));
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
}

Status delete_node(const std::filesystem::path& path, const std::optional<NodeFacts>& listed, const NodeObserver& observer,
                   bool whole_tree) {
    const std::optional<NodeFacts> by_name = listed ? listed : observer.by_name(path);
    if (!by_name) return ok();
    // Not sharing delete: while we hold the node, nobody can rename it and plant a link in its place.
    const UniqueFileHandle node = open_no_follow(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                                                           FILE_WRITE_ATTRIBUTES | SYNCHRONIZE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!node) {
        const DWORD error = GetLastError();
        if (is_missing(error)) return ok();
        return fail(system_error_text(error));
    }
    const auto by_handle = observer.by_handle(node.get());
    if (!by_handle) return fail(by_handle.error());
    switch (tree_step(*by_name, *by_handle)) {
        case TreeStep::leave_link:
            return ok();
        case TreeStep::delete_link:
        case TreeStep::delete_node:
            return mark_for_deletion(node.get());
        case TreeStep::descend:
            break;
    }
    if (!whole_tree) return fail("a folder is in the place of " + text_of(path));
    auto children = list_children(node.get());
    if (!children) return fail(children.error());
    Status first = ok();
    for (const auto& [name, facts] : *children) {
        Status deleted = delete_node(path / name, facts, observer, true);
        if (!deleted && first) first = std::move(deleted);
    }
    if (!first) return first;
    return mark_for_deletion(node.get());
}

UniqueFileHandle create_new_file(const std::filesystem::path& path, DWORD access) {
    return open_no_follow(path, access, share_all, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
}

}  // namespace

std::optional<NodeFacts> NodeObserver::by_name(const std::filesystem::path& path) const {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return facts_from_attributes(attributes);
}

Result<NodeFacts> NodeObserver::by_handle(HANDLE node) const {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(node, &information)) return fail(last_error_text());
    return facts_from_attributes(information.dwFileAttributes, information.nNumberOfLinks);
}

const NodeObserver& system_node_observer() {
    static const NodeObserver observer;
    return observer;
}

Status delete_tree_no_follow(const std::filesystem::path& path, const NodeObserver& observer) {
    return delete_node(path, std::nullopt, observer, true);
}

void delete_tree_quietly(const std::filesystem::path& path) { (void)delete_tree_no_follow(path); }

Status delete_file_no_follow(const std::filesystem::path& path, const NodeObserver& observer) {
    return delete_node(path, std::nullopt, observer, false);
}

void delete_file_quietly(const std::filesystem::path& path) { (void)delete_file_no_follow(path); }

Status write_file_no_follow(const std::filesystem::path& path, std::string_view bytes, const NodeObserver& observer) {
    if (write_step(observer.by_name(path)) == WriteStep::refuse_folder) {
        return fail("a folder is in the place of " + text_of(path));
    }
    // A new file renamed over the name replaces whatever entry is there, a link included,
    // without opening it; CREATE_NEW never opens a name that is already taken.
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path temporary =
        path.wstring() + L".kv-write-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    {
        const UniqueFileHandle file = create_new_file(temporary, GENERIC_WRITE | DELETE);
        if (!file) return fail(last_error_text());
        Status written = write_all_bytes(file.get(), bytes);
        if (written && !FlushFileBuffers(file.get())) written = fail(last_error_text());
        if (!written) {
            (void)mark_for_deletion(file.get());
            return written;
        }
    }
    if (Status renamed = rename_file_no_follow(temporary, path, observer); !renamed) {
        (void)delete_file_no_follow(temporary, observer);
        return renamed;
    }
    return ok();
}

Status append_file_no_follow(const std::filesystem::path& path, std::string_view bytes, const NodeObserver& observer) {
    const auto by_name = observer.by_name(path);
    if (!by_name) {
        if (const UniqueFileHandle file = create_new_file(path, FILE_APPEND_DATA | SYNCHRONIZE)) return write_all_bytes(file.get(), bytes);
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return fail(last_error_text());
        }
    }
    {
        const UniqueFileHandle file = open_no_follow(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share_all,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
        if (file) {
            const auto by_handle = observer.by_handle(file.get());
            const auto named = by_name ? by_name : observer.by_name(path);
            if (by_handle && named && may_append_in_place(*named, *by_handle)) return write_all_bytes(file.get(), bytes);
        }
    }
    // A link or a second name at our file: ours is started anew rather than written through.
    return write_file_no_follow(path, bytes, observer);
}

Status rename_file_no_follow(const std::filesystem::path& from, const std::filesystem::path& to,
                             const NodeObserver& observer) {
    const auto failed = [](const std::string& why) { return fail(why); };
    const auto by_name = observer.by_name(from);
    if (!by_name) return failed(system_error_text(ERROR_FILE_NOT_FOUND));
    const UniqueFileHandle file = open_no_follow(from, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share_all, OPEN_EXISTING);
    if (!file) return failed(last_error_text());
    const auto by_handle = observer.by_handle(file.get());
    if (!by_handle) return failed(by_handle.error());
    if (tree_step(*by_name, *by_handle) != TreeStep::delete_node) return failed("not a plain file: " + text_of(from));
    if (write_step(observer.by_name(to)) == WriteStep::refuse_folder) return failed("a folder is in the place of " + text_of(to));

    const std::wstring target = to.wstring();
    const std::size_t size = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
    const auto storage = std::make_unique<std::byte[]>(size);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.get());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    if (!SetFileInformationByHandle(file.get(), FileRenameInfo, rename, static_cast<DWORD>(size))) {
        return failed(last_error_text());
    }
    return ok();
}

Result<UniqueFileHandle> open_folder_no_follow(const std::filesystem::path& folder, DWORD access,
                                               const NodeObserver& observer) {
    const auto failed = [](const std::string& why) { return fail(why); };
    const auto by_name = observer.by_name(folder);
    if (!by_name) return failed(system_error_text(ERROR_PATH_NOT_FOUND));
    UniqueFileHandle handle = open_no_follow(folder, access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!handle) return failed(last_error_text());
    const auto by_handle = observer.by_handle(handle.get());
    if (!by_handle) return failed(by_handle.error());
    if (tree_step(*by_name, *by_handle) != TreeStep::descend) return failed("not a real folder (a link or a file): " + text_of(folder));
    return handle;
}

Status refuse_linked_folders(const std::vector<std::filesystem::path>& chain, const NodeObserver& observer) {
    std::vector<FolderFacts> facts;
    for (const auto& folder : chain) facts.push_back({text_of(folder), observer.by_name(folder)});
    if (auto error = linked_folder_error(facts)) return fail(*error);
    return ok();
}

}  // namespace kv
