#pragma once
// The client monitor's loop and its update hold-off, against seams for the process table,
// the marker files, sleeping and time, so every wait can be walked with a fake clock.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "monotonic_clock.hpp"
#include "result.hpp"
#include "watchdog_log.hpp"

namespace kv {

inline constexpr std::chrono::seconds monitor_start_delay{3};
inline constexpr std::chrono::seconds monitor_poll_interval{1};
inline constexpr std::chrono::seconds monitor_restart_pause{3};
inline constexpr std::chrono::seconds update_pending_limit{180};
inline constexpr std::chrono::seconds unsigned_marker_grace{30};

inline constexpr std::string_view installer_marker_name = "pending-installer.json";
inline constexpr std::string_view relaunch_marker_name = "pending-relaunch.json";
inline constexpr std::string_view update_marker_name = "pending-update.json";
inline constexpr std::string_view signature_file_name = "manifest.json.sig";

class MonitorEnvironment {
public:
    virtual ~MonitorEnvironment() = default;
    virtual bool exit_requested() = 0;
    virtual bool client_running() = 0;
    virtual bool shutting_down() = 0;
    virtual bool client_update_pending() = 0;
    virtual void clear_pending_marker() = 0;
    virtual Result<std::uint32_t> restart_client() = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    virtual MonotonicTime now() = 0;
};

// Runs until exit_requested: start delay, then one check per poll.
void run_client_monitor(MonitorEnvironment& environment, const WatchdogLog& log);

// The files of the updates folder, read afresh on every question.
class UpdateMarkerFiles {
public:
    virtual ~UpdateMarkerFiles() = default;
    // Metadata readable; any error counts as absent.
    virtual bool exists(std::string_view name) = 0;
    virtual std::optional<std::chrono::system_clock::time_point> modified(std::string_view name) = 0;
    virtual void remove(std::string_view name) = 0;  // failures change nothing for the caller
};

// True while the updater service is working on the client. An update marker that has had
// no signature beside it for 30 s (or is dated in the future) is stale: it is removed.
bool client_update_pending(UpdateMarkerFiles& files, std::chrono::system_clock::time_point wall_now, const WatchdogLog& log);

// Readable, not in the future and less than 30 whole seconds old.
bool unsigned_marker_still_fresh(std::optional<std::chrono::system_clock::time_point> modified,
                                 std::chrono::system_clock::time_point wall_now);

}  // namespace kv
