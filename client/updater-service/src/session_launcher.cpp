#include "session_launcher.hpp"

#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <string>

#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

constexpr const char* launch_privileges[] = {"SeTcbPrivilege", "SeAssignPrimaryTokenPrivilege",
                                             "SeIncreaseQuotaPrivilege"};
constexpr wchar_t interactive_desktop[] = L"winsta0\\default";

}  // namespace

std::uint32_t active_console_session() { return WTSGetActiveConsoleSessionId(); }

Result<std::uint32_t> signed_in_console_session() {
    const std::uint32_t session = active_console_session();
    if (session == 0 || session == no_console_session) return fail("no active console session");
    return session;
}

Result<UniqueHandle> session_user_token(std::uint32_t session) {
    UniqueHandle token;
    if (!WTSQueryUserToken(session, token.put()) || !token) {
        return fail("WTSQueryUserToken failed for session " + std::to_string(session) + ": " + last_error_text());
    }
    return token;
}

Result<bool> try_enable_privilege(std::string_view privilege_name) {
    const std::string name(privilege_name);
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) || !token) {
        return fail("OpenProcessToken failed while enabling " + name + ": " + last_error_text());
    }
    LUID luid{};
    if (!LookupPrivilegeValueW(nullptr, widen(name).c_str(), &luid)) {
        return fail("LookupPrivilegeValueW failed for " + name + ": " + last_error_text());
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr)) {
        return fail("AdjustTokenPrivileges failed for " + name + ": " + last_error_text());
    }
    // The call succeeds even when the privilege is not held; only the last error tells.
    return GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

Status enable_privilege(std::string_view privilege_name) {
    const auto enabled = try_enable_privilege(privilege_name);
    if (!enabled) return fail(enabled.error());
    if (!*enabled) return fail(std::string(privilege_name) + " is not assigned to this service process");
    return ok();
}

Status enable_launch_privileges() {
    // Acting for the console user needs SeTcbPrivilege. The other two are enabled where the
    // account holds them; a host that never grants them (Wine) can still launch, and where
    // they are truly needed CreateProcessAsUserW names the missing privilege itself.
    if (Status tcb = enable_privilege(launch_privileges[0]); !tcb) return tcb;
    for (const char* privilege : {launch_privileges[1], launch_privileges[2]}) {
        if (const auto enabled = try_enable_privilege(privilege); !enabled) return fail(enabled.error());
    }
    return ok();
}

Result<std::uint32_t> launch_in_console_session(const std::filesystem::path& application,
                                                const std::filesystem::path& working_directory, const LogSink& log) {
    if (Status enabled = enable_launch_privileges(); !enabled) return fail(enabled.error());
    const auto session = signed_in_console_session();
    if (!session) return fail(session.error());
    auto token = session_user_token(*session);
    if (!token) return fail(token.error());

    // The user's own environment, not merged with the service's.
    UniqueEnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token->get(), FALSE)) {
        log("CreateEnvironmentBlock failed for session " + std::to_string(*session) + ": " + last_error_text() +
            "; launching without user env");
        environment.reset();
    }

    std::wstring desktop = interactive_desktop;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION created{};
    const std::wstring application_text = application.wstring();
    const std::wstring directory_text = working_directory.wstring();
    if (!CreateProcessAsUserW(token->get(), application_text.c_str(), nullptr, nullptr, nullptr, FALSE,
                              CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, environment.get(),
                              directory_text.c_str(), &startup, &created)) {
        return fail("CreateProcessAsUserW failed for " + narrow(application_text) + " in session " +
                    std::to_string(*session) + ": " + last_error_text());
    }
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);
    return static_cast<std::uint32_t>(created.dwProcessId);
}

}  // namespace kv
