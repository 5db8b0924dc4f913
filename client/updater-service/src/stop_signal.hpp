#pragma once
// The stop signal: an unbounded queue of value-less messages. The control handler posts
// without ever blocking on the loop; the main loop takes one per wait.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kv {

class StopSignal {
public:
    void post() {
        {
            std::lock_guard lock(mutex_);
            ++pending_;
        }
        posted_.notify_one();
    }

    // True when a signal arrived within `timeout` (and takes it), false on time-out.
    bool wait_for(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!posted_.wait_for(lock, timeout, [&] { return pending_ > 0; })) return false;
        --pending_;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::size_t pending_ = 0;
};

}  // namespace kv
