#pragma once
// Starts programs on the interactive desktop of the user signed in at the console, as that
// user and with that user's environment, from the LocalSystem service.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "log_sink.hpp"
#include "result.hpp"
#include "unique_resource.hpp"

namespace kv {

inline constexpr std::uint32_t no_console_session = 0xFFFFFFFF;

// 0xFFFFFFFF when no session is attached to the console.
std::uint32_t active_console_session();

// The console session id, or "no active console session" when it is 0 or 0xFFFFFFFF.
Result<std::uint32_t> signed_in_console_session();

// The primary token of the user signed in to `session`.
Result<UniqueHandle> session_user_token(std::uint32_t session);

// Enables one privilege in the service's own token; it stays enabled for the process's life.
Status enable_privilege(std::string_view privilege_name);

// As enable_privilege, but a privilege the account does not hold is `false`, not an error.
Result<bool> try_enable_privilege(std::string_view privilege_name);

// SeTcbPrivilege (required), then SeAssignPrimaryTokenPrivilege and SeIncreaseQuotaPrivilege.
Status enable_launch_privileges();

// Returns the new process id. Neither handle is kept and the program is not waited for.
// `log` receives the one fallback line when the user's environment cannot be built.
Result<std::uint32_t> launch_in_console_session(const std::filesystem::path& application,
                                                const std::filesystem::path& working_directory, const LogSink& log);

}  // namespace kv
