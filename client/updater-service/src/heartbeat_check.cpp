#include "heartbeat_check.hpp"

#include <chrono>
#include <iterator>

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr auto check_gap_limit = 10s;
constexpr auto stale_beat = 600s;
constexpr auto warn_after = 90s;
constexpr auto unresponsive_after = 120s;

}  // namespace

HeartbeatVerdict check_heartbeat(ClientHeartbeatsFields& record, std::uint32_t pid, MonotonicTime now) {
    if (record.last_check && now - *record.last_check > check_gap_limit) {
        for (auto& entry : record.last_beat) entry.second = now;
    }
    record.last_check = now;
    std::erase_if(record.last_beat, [&](const auto& entry) { return entry.first != pid && now - entry.second >= stale_beat; });
    std::erase_if(record.warned, [&](std::uint32_t id) { return id != pid; });

    const auto beat = record.last_beat.find(pid);
    if (beat == record.last_beat.end()) return HeartbeatVerdict::Fresh;
    const auto age = now - beat->second;
    if (age < warn_after) {
        record.warned.erase(pid);
        return HeartbeatVerdict::Fresh;
    }
    if (age < unresponsive_after) {
        return record.warned.insert(pid).second ? HeartbeatVerdict::FirstWarning : HeartbeatVerdict::StillWarned;
    }
    return HeartbeatVerdict::Unresponsive;
}

HeartbeatVerdict check_heartbeat(ClientHeartbeats& heartbeats, std::uint32_t pid, MonotonicTime now) {
    return heartbeats.with_fields([&](ClientHeartbeatsFields& record) { return check_heartbeat(record, pid, now); });
}

}  // namespace kv
