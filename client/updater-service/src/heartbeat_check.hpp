#pragma once
// Judges a running client by its latest "HEARTBEAT". Supervision starts with the first beat:
// a client that never beats is never judged unresponsive.
#include <cstdint>

#include "monotonic_clock.hpp"
#include "supervision_records.hpp"

namespace kv {

enum class HeartbeatVerdict { Fresh, FirstWarning, StillWarned, Unresponsive };

// Reads and prunes the record for client `pid` at `now`. A gap of more than 10 s since the
// previous check (a long update step, a suspended machine) restarts every beat's clock.
HeartbeatVerdict check_heartbeat(ClientHeartbeatsFields& record, std::uint32_t pid, MonotonicTime now);

// The same under the record's lock.
HeartbeatVerdict check_heartbeat(ClientHeartbeats& heartbeats, std::uint32_t pid, MonotonicTime now);

}  // namespace kv
