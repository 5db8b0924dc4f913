#include "supervision_records.hpp"

#include <chrono>

namespace kv {

namespace {
constexpr auto announcement_lifetime = std::chrono::seconds(10);
}

void AuthorizedExit::announce(MonotonicTime now) {
    std::lock_guard lock(mutex_);
    fields_ = {true, true, now};
}

void AuthorizedExit::clear() {
    std::lock_guard lock(mutex_);
    fields_ = {};
}

void AuthorizedExit::expire(MonotonicTime now) {
    std::lock_guard lock(mutex_);
    if (!fields_.announced) return;
    const bool old_enough = fields_.announced_at && now - *fields_.announced_at >= announcement_lifetime;
    if (old_enough || !fields_.exit_pending) fields_ = {};
}

void AuthorizedExit::mark_seen() {
    std::lock_guard lock(mutex_);
    fields_.exit_pending = false;
}

bool AuthorizedExit::is_announced() const {
    std::lock_guard lock(mutex_);
    return fields_.announced;
}

AuthorizedExitFields AuthorizedExit::fields() const {
    std::lock_guard lock(mutex_);
    return fields_;
}

void ClientHeartbeats::record_beat(std::uint32_t pid, MonotonicTime now) {
    std::lock_guard lock(mutex_);
    fields_.last_beat[pid] = now;
    fields_.warned.erase(pid);
}

void ClientHeartbeats::forget(std::uint32_t pid) {
    std::lock_guard lock(mutex_);
    fields_.last_beat.erase(pid);
    fields_.warned.erase(pid);
}

ClientHeartbeatsFields ClientHeartbeats::fields() const {
    std::lock_guard lock(mutex_);
    return fields_;
}

}  // namespace kv
