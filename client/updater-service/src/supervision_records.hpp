#pragma once
// What the station client tells the service about itself, shared between the control
// handler, the privileged pipe and the supervisors. Each record has its own lock, held only
// for the few field accesses of one operation. Times are monotonic readings passed in.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "monotonic_clock.hpp"

namespace kv {

struct AuthorizedExitFields {
    bool announced = false;
    bool exit_pending = false;  // the announced exit has not been seen to happen yet
    std::optional<MonotonicTime> announced_at;
};

class AuthorizedExit {
public:
    // "SUPERVISE off", a console disconnect or a logoff; restarts the 10 s period.
    void announce(MonotonicTime now);
    // A console connect or logon.
    void clear();
    // Supervision saw the client running: the announcement ends once 10 s old or once the
    // client had been seen gone.
    void expire(MonotonicTime now);
    // Supervision saw the client missing.
    void mark_seen();
    bool is_announced() const;
    AuthorizedExitFields fields() const;

private:
    mutable std::mutex mutex_;
    AuthorizedExitFields fields_;
};

struct ClientHeartbeatsFields {
    std::map<std::uint32_t, MonotonicTime> last_beat;
    std::set<std::uint32_t> warned;
    std::optional<MonotonicTime> last_check;
};

class ClientHeartbeats {
public:
    // A "HEARTBEAT" from process `pid`; a warned process may be warned again after this.
    void record_beat(std::uint32_t pid, MonotonicTime now);
    void forget(std::uint32_t pid);
    ClientHeartbeatsFields fields() const;

    // Runs `change` on the fields under the lock; the heartbeat check reads and prunes them.
    template <class Change>
    auto with_fields(Change change) {
        std::lock_guard lock(mutex_);
        return change(fields_);
    }

private:
    mutable std::mutex mutex_;
    ClientHeartbeatsFields fields_;
};

// Both records, once per service process, created empty.
struct SupervisionRecords {
    AuthorizedExit authorized_exit;
    ClientHeartbeats heartbeats;
};

}  // namespace kv
