#pragma once
// The service's once-a-second loop over its three duties, in a fixed order, on one thread.
#include <chrono>
#include <cstdint>
#include <functional>

#include "log_sink.hpp"
#include "result.hpp"
#include "stop_signal.hpp"

namespace kv {

struct LoopDuties {
    std::function<Status()> apply_check;
    std::function<bool()> any_update_pending;
    std::function<std::uint32_t()> active_console_session;
    // True when the user token of the session can be obtained: someone is signed in there.
    std::function<bool(std::uint32_t session)> user_signed_in;
    std::function<void()> client_supervision_pass;
    std::function<void()> watchdog_pass;
};

// One pass: apply check, then client supervision only when nothing is pending and a user
// is signed in at the console (checked in that order, stopping at the first that fails),
// then the watchdog pass. No failure ends the pass early.
void run_loop_pass(const LoopDuties& duties, const LogSink& log);

// Waits up to `pause` for a stop signal before each pass; returns once one arrives.
void run_main_loop(StopSignal& stop, const LoopDuties& duties, const LogSink& log,
                   std::chrono::milliseconds pause = std::chrono::seconds(1));

}  // namespace kv
