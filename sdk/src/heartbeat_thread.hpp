#pragma once
// "HEARTBEAT" on the privileged pipe from a thread of its own, at the settings' interval,
// until stopped.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "station_answer.hpp"
#include "station_settings.hpp"

namespace kv::station {

class HeartbeatThread {
public:
    // The first beat goes out at once.
    explicit HeartbeatThread(Settings settings);
    // Stops: a beat under way ends within its own time-outs.
    ~HeartbeatThread();
    HeartbeatThread(const HeartbeatThread&) = delete;
    HeartbeatThread& operator=(const HeartbeatThread&) = delete;

    struct Counts {
        unsigned long sent = 0;    // answered "OK"
        unsigned long failed = 0;  // any other outcome
        Answer last = answer(KV_ERR_TIMEOUT, "no heartbeat sent yet");
    };
    Counts counts() const;

private:
    void run();

    const Settings settings_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    Counts counts_;
    std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace kv::station
