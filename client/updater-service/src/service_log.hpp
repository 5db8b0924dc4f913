#pragma once
// The service's one log sink and the file where the latest update failure is kept.
#include <filesystem>
#include <string_view>

#include "result.hpp"

namespace kv {

// Appends "[{seconds}] {message}" to logs\updater-service.log. Never fails visibly: a line
// that cannot be written is dropped. Safe from any thread; nothing is held open between calls.
void service_log(std::string_view message);

// service_log, then replaces updates\last-error.txt with the same kind of line.
void record_last_error(std::string_view message);

// The canonical folder of the running service executable (\\?\ form), where the client and
// the watchdog lie too.
Result<std::filesystem::path> install_dir();

// The full path of the running executable.
Result<std::filesystem::path> current_executable();

}  // namespace kv
