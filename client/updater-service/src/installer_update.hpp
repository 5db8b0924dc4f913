#pragma once
// A signed installer update: verified in memory, copied into a folder only SYSTEM and
// Administrators can touch, started as LocalSystem; then the service process ends.
#include <filesystem>
#include <string_view>

#include "result.hpp"
#include "update_environment.hpp"

namespace kv {

// SYSTEM and Administrators only, inherited by what is created inside.
inline constexpr wchar_t private_installer_folder_sddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Returns the private copy's path.
Result<std::filesystem::path> make_private_installer_copy(const UpdateEnvironment& environment,
                                                          const std::filesystem::path& installer, std::string_view bytes);

// Asks the client and the watchdog to close; after 10 s ends them by force.
void request_client_and_watchdog_exit(const LogSink& log);

// The installer branch of the apply check. Returns only when it waits or fails; after a
// successful start it calls environment.end_process.
Status run_installer_update(const UpdateEnvironment& environment);

}  // namespace kv
