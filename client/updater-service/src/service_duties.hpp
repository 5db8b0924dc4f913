#pragma once
// The service's duties as the main loop and "apply-once" see them.
#include "log_sink.hpp"
#include "main_loop.hpp"
#include "result.hpp"
#include "supervision_records.hpp"

namespace kv {

// One apply check of the update engine, as "apply-once" runs it.
Status run_apply_once();

// The loop's duties, wired to the real system.
LoopDuties make_service_duties(SupervisionRecords& records, const LogSink& log);

// Starts the privileged pipe listener on its own thread and returns at once.
void start_privileged_pipe_listener(SupervisionRecords& records, const LogSink& log);

// Ends the watchdog this service launched, when the service stops.
void stop_launched_watchdog(SupervisionRecords& records, const LogSink& log);

}  // namespace kv
