#include "data_folders.hpp"

#include <windows.h>
#include <sddl.h>

#include "data_paths.hpp"
#include "file_io.hpp"
#include "link_safe_files.hpp"
#include "session_launcher.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

constexpr SECURITY_INFORMATION owner_and_dacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::string text_of(const std::filesystem::path& path) { return narrow(path.wstring()); }

Result<UniqueLocalMemory> descriptor_from(const wchar_t* sddl) {
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        return fail(last_error_text());
    }
    return descriptor;
}

Result<std::string> sddl_of(PSECURITY_DESCRIPTOR descriptor) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, owner_and_dacl, &text, nullptr)) {
        return fail(last_error_text());
    }
    const UniqueLocalMemory owned(text);
    return narrow(text);
}

// A folder someone else owns, or whose DACL does not let us write it, needs these.
void enable_takeover_privileges() {
    static const bool enabled = [] {
        (void)try_enable_privilege("SeTakeOwnershipPrivilege");
        (void)try_enable_privilege("SeRestorePrivilege");
        return true;
    }();
    (void)enabled;
}

}  // namespace

Result<std::string> FolderSecurityAccess::read(HANDLE folder) const {
    DWORD needed = 0;
    GetKernelObjectSecurity(folder, owner_and_dacl, nullptr, 0, &needed);
    if (needed == 0) return fail(last_error_text());
    std::string buffer(needed, '\0');
    if (!GetKernelObjectSecurity(folder, owner_and_dacl, buffer.data(), needed, &needed)) return fail(last_error_text());
    return sddl_of(buffer.data());
}

Status FolderSecurityAccess::write(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) const {
    // SetKernelObjectSecurity, unlike SetSecurityInfo, never walks the folder's children.
    if (!SetKernelObjectSecurity(folder, owner_and_dacl | PROTECTED_DACL_SECURITY_INFORMATION, descriptor)) {
        return fail(last_error_text());
    }
    return ok();
}

const FolderSecurityAccess& system_folder_security() {
    static const FolderSecurityAccess access;
    return access;
}

Result<std::string> folder_security_text(const std::filesystem::path& folder) {
    auto handle = open_folder_no_follow(folder, READ_CONTROL);
    if (!handle) return fail(handle.error());
    return system_folder_security().read(handle->get());
}

Status secure_data_folder(const std::filesystem::path& folder, const wchar_t* sddl, const LogSink& log,
                          const FolderSecurityAccess& access) {
    const auto failed = [&](const std::string& why) { return fail("data folder " + text_of(folder) + ": " + why); };
    auto wanted = descriptor_from(sddl);
    if (!wanted) return failed("security descriptor: " + wanted.error());
    const auto expected = sddl_of(wanted->get());
    if (!expected) return failed("security descriptor: " + expected.error());
    if (Status safe = refuse_linked_folders({folder}); !safe) {
        // A link in the place of our folder is removed itself, then a real folder made.
        if (Status removed = delete_file_no_follow(folder); !removed || path_exists(folder)) return failed(safe.error());
        log("data folder link removed: " + text_of(folder));
    }
    SECURITY_ATTRIBUTES security{sizeof(security), wanted->get(), FALSE};
    if (CreateDirectoryW(folder.c_str(), &security)) return ok();
    if (GetLastError() != ERROR_ALREADY_EXISTS) return failed(last_error_text());

    enable_takeover_privileges();
    auto handle = open_folder_no_follow(folder, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (!handle) return failed(handle.error());
    const auto current = access.read(handle->get());
    if (current && *current == *expected) return ok();
    if (Status written = access.write(handle->get(), wanted->get()); !written) {
        return failed("permissions repair: " + written.error());
    }
    // A file system that keeps no descriptors (Wine's) reads back its own again: nothing was
    // repaired there, so nothing is logged.
    const auto after = access.read(handle->get());
    if (after && *after == *expected) {
        log("data folder permissions repaired: " + text_of(folder) + " was=" + (current ? *current : current.error()));
    }
    return ok();
}

Status secure_data_folders(const LogSink& log) {
    const std::filesystem::path root = data_root();
    const struct {
        std::filesystem::path folder;
        const wchar_t* sddl;
    } folders[] = {
        {root.parent_path(), vendor_folder_sddl},
        {root, shared_data_folder_sddl},
        {logs_dir(), logs_folder_sddl},
        {updates_dir(), shared_data_folder_sddl},
    };
    if (Status base = create_folders(root.parent_path().parent_path()); !base) {
        return fail("data folder " + text_of(root.parent_path().parent_path()) + ": " + base.error());
    }
    for (const auto& [folder, sddl] : folders) {
        if (Status secured = secure_data_folder(folder, sddl, log); !secured) return secured;
    }
    return ok();
}

}  // namespace kv
