#pragma once
// The client monitor thread: keeps Kestrivon-Client.exe running in this session.
#include <cstdint>
#include <string>

#include "result.hpp"
#include "watchdog_log.hpp"

namespace kv {

// Thread body; ends once exit_requested is set.
void run_monitor(std::wstring client_path);

// Whether the updater service is working on the client, from the markers in updates_dir.
bool client_update_pending(const WatchdogLog& log);

// Removes a timed-out pending-update.json; a failed delete is logged.
void clear_pending_marker(const WatchdogLog& log);

// Starts the client as this user, in this session, without arguments; yields its process id.
Result<std::uint32_t> restart_client(const std::wstring& client_path, const WatchdogLog& log);

}  // namespace kv
