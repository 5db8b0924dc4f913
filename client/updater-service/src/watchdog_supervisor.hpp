#pragma once
// Keeps exactly one Kestrivon-Watchdog alive in the console user's session: holds its pipe
// name for the service, starts it with the pipe and a heartbeat pipe, and replaces it when it
// exits, stops beating or sits in another session.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "log_sink.hpp"
#include "monotonic_clock.hpp"
#include "result.hpp"
#include "supervision_records.hpp"
#include "unique_resource.hpp"
#include "watchdog_supervision_rules.hpp"

namespace kv {

inline constexpr wchar_t watchdog_pipe_name[] = L"\\\\.\\pipe\\kestrivon-watchdog";
inline constexpr wchar_t watchdog_pipe_sddl[] = L"D:P(A;;GA;;;SY)(A;;GRGW;;;IU)";
inline constexpr wchar_t watchdog_process_sddl[] = L"O:SYD:P(A;;GA;;;SY)(A;;0x101001;;;BA)(A;;0x101000;;;IU)";
inline constexpr wchar_t watchdog_thread_sddl[] = L"O:SYD:P(A;;GA;;;SY)(A;;0x100800;;;IU)";

struct WatchdogChild {
    MonotonicTime launched_at;
    HeartbeatWatch watch;
    UniqueHandle process;
    UniqueFileHandle heartbeat_reader;
    std::uint32_t pid = 0;
    std::uint32_t session_id = 0;
};

struct WatchdogSupervisorState {
    UniqueFileHandle held_pipe;
    std::optional<WatchdogChild> child;
    std::optional<MonotonicTime> next_launch;
    std::uint32_t quick_exits = 0;
    bool leftovers_cleaned = false;
};

struct WatchdogSupervisorDependencies {
    SupervisionRecords* records = nullptr;
    const MonotonicClock* clock = nullptr;
    std::function<bool()> any_update_pending;
    std::function<Result<std::filesystem::path>()> install_dir;
};

class WatchdogSupervisor {
public:
    explicit WatchdogSupervisor(WatchdogSupervisorDependencies dependencies) : dependencies_(std::move(dependencies)) {}

    // One supervision step, on the service's main loop thread.
    void pass(const LogSink& log);
    // The service is stopping: the watchdog it started goes too.
    void stop(const LogSink& log);
    // "WATCHDOG managed": "OK managed" or "watchdog not managed by the service".
    Result<std::string> managed();
    // "WATCHDOG stop": only after an announced exit.
    Status stop_for_authorized_exit(const LogSink& log);

    // For tests: the pid of the running watchdog, if any.
    std::optional<std::uint32_t> child_pid();

private:
    void retire_child();
    Result<WatchdogChild> launch();
    std::uint32_t end_leftover_watchdogs();

    WatchdogSupervisorDependencies dependencies_;
    std::mutex lock_;
    WatchdogSupervisorState state_;
};

}  // namespace kv
