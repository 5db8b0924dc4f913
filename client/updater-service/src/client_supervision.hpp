#pragma once
// The client supervision pass: keeps Kestrivon-Client.exe running in the console session,
// ends a client whose heartbeats stopped and relaunches a missing one at a growing pace.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "log_sink.hpp"
#include "monotonic_clock.hpp"
#include "relaunch_throttle.hpp"
#include "result.hpp"
#include "supervision_records.hpp"

namespace kv {

// The system around the pass; each empty member means the real one.
struct ClientSupervisionSeams {
    std::function<Result<std::filesystem::path>()> install_dir;
    std::function<std::uint32_t()> console_session;
    std::function<Result<std::uint32_t>(const std::filesystem::path& program, const std::filesystem::path& folder)> launch;
    const MonotonicClock* clock = nullptr;
};

class ClientSupervisor {
public:
    ClientSupervisor(SupervisionRecords& records, LogSink log, ClientSupervisionSeams seams = {});

    // One pass, on the service thread. Never fails: what goes wrong is logged or retried.
    void run_pass();

    RelaunchThrottleFields throttle() const { return throttle_.fields(); }

private:
    std::optional<std::uint32_t> find_client(const std::optional<std::string>& expected_key, std::uint32_t console_session) const;
    void supervise_running(std::uint32_t pid);
    void relaunch_missing();
    Result<std::uint32_t> launch_client();

    SupervisionRecords& records_;
    LogSink log_;
    ClientSupervisionSeams seams_;
    RelaunchThrottle throttle_;
};

}  // namespace kv
