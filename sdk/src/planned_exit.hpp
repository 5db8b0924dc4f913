#pragma once
// The planned exit as one sequence over both pipes, behind a narrow interface so that its
// order and its stops can be checked without a station.
#include <string_view>

#include "station_answer.hpp"

namespace kv::station {

// What the planned exit needs of the two pipes.
class StationLink {
public:
    virtual ~StationLink() = default;
    // One privileged pipe request; the reply as parse_reply gives it.
    virtual Answer privileged(std::string_view request) = 0;
    // The watchdog session: opened up to WATCHDOG_READY, then used in order.
    virtual Answer open_watchdog() = 0;
    virtual Answer authenticate() = 0;
    virtual Answer send_line(std::string_view line) = 0;
    // Sends the exit line and waits for EXIT_ACK.
    virtual Answer exit_watchdog(std::string_view line) = 0;
    virtual void close_watchdog() = 0;
};

// Lifts kiosk mode and the guards, waits until the watchdog has handled that, announces the
// exit, then stops the watchdog: by the service when it manages the watchdog, else with
// ADMIN_EXIT. Stops at the first failure, with that step's status and a text naming the step.
Answer planned_exit(StationLink& link);

}  // namespace kv::station
