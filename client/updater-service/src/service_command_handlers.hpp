#pragma once
// The privileged commands this service build carries, as the pipe dispatches them.
#include "privileged_command_handlers.hpp"
#include "supervision_records.hpp"
#include "watchdog_supervisor.hpp"

namespace kv {

// The service's one watchdog supervisor, shared by the main loop and the pipe.
WatchdogSupervisor& service_watchdog_supervisor(SupervisionRecords& records);

PrivilegedCommandHandlers service_command_handlers(SupervisionRecords& records);

}  // namespace kv
