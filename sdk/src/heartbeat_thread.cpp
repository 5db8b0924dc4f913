#include "heartbeat_thread.hpp"

#include "privileged_exchange.hpp"

namespace kv::station {

HeartbeatThread::HeartbeatThread(Settings settings) : settings_(std::move(settings)), thread_([this] { run(); }) {}

HeartbeatThread::~HeartbeatThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

HeartbeatThread::Counts HeartbeatThread::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

void HeartbeatThread::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        Answer beat = privileged_exchange("HEARTBEAT", settings_);
        lock.lock();
        ++(beat.ok() ? counts_.sent : counts_.failed);
        counts_.last = std::move(beat);
        wake_.wait_for(lock, settings_.heartbeat_interval, [this] { return stopping_; });
    }
}

}  // namespace kv::station
