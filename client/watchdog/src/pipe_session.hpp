#pragma once
// What one connected client may ask of the watchdog, and when it must have authenticated.
#include <string>

#include "pipe_message.hpp"
#include "watchdog_log.hpp"

namespace kv {

// The station-facing effects of the commands; the program wires the real ones, tests fakes.
class WatchdogControls {
public:
    virtual ~WatchdogControls() = default;
    virtual void activate_kiosk() = 0;
    virtual void deactivate_kiosk() = 0;
    virtual void enable_win_key_guard() = 0;
    virtual void disable_win_key_guard() = 0;
    virtual void set_kiosk_shutdown_block(bool on) = 0;
    virtual void set_shutdown_guard(bool on) = 0;
    virtual void refresh_shutdown_block() = 0;
    virtual void request_exit() = 0;
    virtual void remove_autostart_entry() = 0;
    // Writes "EXIT_ACK" and waits until the pipe has taken it.
    virtual void send_exit_ack() = 0;
};

enum class SessionStep { keep_reading, session_over };

class PipeSession {
public:
    // `token` is this session's copy of the session token (empty if it was never set).
    PipeSession(std::string token, WatchdogControls& controls, WatchdogLog log);

    SessionStep handle(const PipeMessage& message);
    bool authenticated() const { return authenticated_; }

private:
    void authenticate(const std::string& presented);

    std::string token_;
    WatchdogControls& controls_;
    WatchdogLog log_;
    bool authenticated_ = false;
};

}  // namespace kv
