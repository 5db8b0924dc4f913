#include "client_monitor.hpp"

#include <string>

namespace kv {

namespace {

// One check; returns how long to sleep before the next.
std::chrono::milliseconds monitor_pass(MonitorEnvironment& environment, const WatchdogLog& log,
                                       std::optional<MonotonicTime>& pending_since) {
    if (environment.client_running()) {
        pending_since.reset();
        return monitor_poll_interval;
    }
    // Keep the pending clock: a shutdown that is called off resumes the same wait.
    if (environment.shutting_down()) return monitor_poll_interval;

    if (environment.client_update_pending()) {
        const MonotonicTime now = environment.now();
        if (!pending_since) pending_since = now;
        const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - *pending_since);
        if (waited < update_pending_limit) {
            log(LogStream::out, "client update pending; waiting for updater service");
            return monitor_poll_interval;
        }
        log(LogStream::err, "client update pending timed out after " + std::to_string(update_pending_limit.count()) +
                                "s; restarting client");
        environment.clear_pending_marker();
    }

    log(LogStream::out, "Restarting client");
    const auto started = environment.restart_client();
    if (started) {
        log(LogStream::out, "Client restarted, PID: " + std::to_string(*started));
    } else {
        log(LogStream::err, "Client restart failed: " + started.error());
    }
    pending_since.reset();
    return monitor_restart_pause + monitor_poll_interval;
}

}  // namespace

void run_client_monitor(MonitorEnvironment& environment, const WatchdogLog& log) {
    std::optional<MonotonicTime> pending_since;
    environment.sleep(monitor_start_delay);
    while (!environment.exit_requested()) environment.sleep(monitor_pass(environment, log, pending_since));
}

bool unsigned_marker_still_fresh(std::optional<std::chrono::system_clock::time_point> modified,
                                 std::chrono::system_clock::time_point wall_now) {
    if (!modified || *modified > wall_now) return false;
    return std::chrono::duration_cast<std::chrono::seconds>(wall_now - *modified) < unsigned_marker_grace;
}

bool client_update_pending(UpdateMarkerFiles& files, std::chrono::system_clock::time_point wall_now, const WatchdogLog& log) {
    if (files.exists(installer_marker_name)) return true;
    if (files.exists(relaunch_marker_name)) return true;
    if (!files.exists(update_marker_name)) return false;
    if (files.exists(signature_file_name)) return true;
    // The publisher may still be writing the signature; give it a short while.
    if (unsigned_marker_still_fresh(files.modified(update_marker_name), wall_now)) return true;
    log(LogStream::err, "stale unsigned client update marker found; clearing pending marker");
    files.remove(update_marker_name);
    return false;
}

}  // namespace kv
