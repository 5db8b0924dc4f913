#pragma once
// The client's side of a session on the watchdog's pipe: greeting, token, command lines,
// and the wait for EXIT_ACK.
#include <chrono>
#include <string_view>

#include "pipe_connection.hpp"
#include "station_protocol.hpp"
#include "station_settings.hpp"

namespace kv::station {

class WatchdogSession {
public:
    // Connects and reads "WATCHDOG_READY", connecting again while the pipe is missing or busy
    // or a watchdog drops the connection before its greeting, all within the watchdog time-out.
    static Outcome<WatchdogSession> open(const Settings& settings);

    // Reads the token file afresh and sends "AUTH:" with it.
    Answer authenticate();
    // Bytes as they are, in one write.
    Answer send(std::string_view bytes);
    // Sends an exit line and reads up to "EXIT_ACK".
    Answer exit(std::string_view line);
    // The next line the watchdog sends, within `timeout`.
    Answer read_line(std::chrono::milliseconds timeout);

private:
    WatchdogSession(PipeConnection pipe, Settings settings) : pipe_(std::move(pipe)), settings_(std::move(settings)) {}

    PipeConnection pipe_;
    Settings settings_;
    WatchdogLines lines_;
};

}  // namespace kv::station
