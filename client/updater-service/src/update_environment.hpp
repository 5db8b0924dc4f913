#pragma once
// What the update engine works with: its folders, its log sinks and the few actions that
// tests replace (ending the service process after an installer started, the clock).
#include <array>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>

#include "log_sink.hpp"
#include "marker_policy.hpp"
#include "monotonic_clock.hpp"
#include "result.hpp"

namespace kv {

// When this process first saw each marker file present; one entry per marker kind.
class MarkerFirstSeen {
public:
    // Stores `now` if the entry is empty; returns the entry.
    MonotonicTime note_present(MarkerKind kind, MonotonicTime now);
    void clear(MarkerKind kind);
    std::optional<MonotonicTime> get(MarkerKind kind) const;

private:
    mutable std::mutex mutex_;
    std::array<std::optional<MonotonicTime>, 3> entries_;
};

struct UpdateEnvironment {
    std::filesystem::path updates;
    std::function<Result<std::filesystem::path>()> install_dir;
    LogSink log;     // the service log
    LogSink record;  // the service log plus last-error.txt
    std::function<void()> end_process;  // after an installer has started
    const MonotonicClock* clock = nullptr;
    MarkerFirstSeen* first_seen = nullptr;
};

// Refuses to work below the updates folder when it, data_root or the folder above is a
// link: the error names the folder, and nothing below it is touched.
Status refuse_linked_update_folders(const UpdateEnvironment& environment);

// The real folders, the service log and a process-wide first-seen table.
UpdateEnvironment service_update_environment();

}  // namespace kv
