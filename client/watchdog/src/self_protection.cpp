#include "self_protection.hpp"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

std::string win32_error(DWORD code) { return "WIN32_ERROR(" + std::to_string(code) + ")"; }

}  // namespace

void apply_self_protection(const WatchdogLog& log) {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        log(LogStream::err, "OpenProcessToken failed (" + last_error_text() + "); self-protection skipped");
        return;
    }
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) {
        log(LogStream::err, "TokenUser size query returned 0; self-protection skipped");
        return;
    }
    std::vector<std::byte> user_buffer(size);
    const bool read = GetTokenInformation(token.get(), TokenUser, user_buffer.data(), size, &size);
    const std::string read_error = read ? std::string() : last_error_text();
    token.reset();
    if (!read) {
        log(LogStream::err, "GetTokenInformation failed (" + read_error + "); self-protection skipped");
        return;
    }
    const PSID user = reinterpret_cast<const TOKEN_USER*>(user_buffer.data())->User.Sid;

    UniqueLocalMemory owner_rights;
    if (!ConvertStringSidToSidW(owner_rights_sid, reinterpret_cast<PSID*>(owner_rights.put()))) {
        log(LogStream::err, "OWNER RIGHTS SID failed (" + last_error_text() + "); self-protection skipped");
        return;
    }

    PACL current = nullptr;
    UniqueLocalMemory descriptor;
    const DWORD got = GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &current,
                                      nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
    if (got != ERROR_SUCCESS) {
        log(LogStream::err, "GetSecurityInfo(DACL) failed: " + win32_error(got));
        return;
    }

    EXPLICIT_ACCESS_W entries[2]{};
    entries[0].grfAccessPermissions = denied_to_user;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[0].grfInheritance = NO_INHERITANCE;
    entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[0].Trustee.TrusteeType = TRUSTEE_IS_USER;
    entries[0].Trustee.ptstrName = static_cast<LPWSTR>(user);
    entries[1].grfAccessPermissions = denied_to_owner_rights;
    entries[1].grfAccessMode = DENY_ACCESS;
    entries[1].grfInheritance = NO_INHERITANCE;
    entries[1].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[1].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[1].Trustee.ptstrName = static_cast<LPWSTR>(owner_rights.get());

    UniqueLocalMemory updated;
    const DWORD built = SetEntriesInAclW(2, entries, current, reinterpret_cast<PACL*>(updated.put()));
    if (built != ERROR_SUCCESS || !updated) {
        log(LogStream::err, "SetEntriesInAclW failed: " + win32_error(built));
        return;
    }
    const DWORD applied = SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                          static_cast<PACL>(updated.get()), nullptr);
    if (applied != ERROR_SUCCESS) {
        log(LogStream::err, "SetSecurityInfo(deny) failed: " + win32_error(applied));
        return;
    }
    log(LogStream::out, "suspend and DACL rewrite denied to the signed-in account");
}

}  // namespace kv
