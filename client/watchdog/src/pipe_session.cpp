#include "pipe_session.hpp"

#include <utility>

#include "session_token.hpp"

namespace kv {

PipeSession::PipeSession(std::string token, WatchdogControls& controls, WatchdogLog log)
    : token_(std::move(token)), controls_(controls), log_(std::move(log)) {}

void PipeSession::authenticate(const std::string& presented) {
    // A failed attempt never takes back an earlier success on this connection.
    if (authenticated_ || session_token_matches(token_, presented)) {
        authenticated_ = true;
        log_(LogStream::out, "Pipe session authenticated");
    } else {
        log_(LogStream::err, "Invalid auth token on pipe session");
    }
}

SessionStep PipeSession::handle(const PipeMessage& message) {
    using K = PipeMessageKind;
    if (needs_authentication(message.kind) && !authenticated_) {
        log_(LogStream::err, "Rejected unauthenticated command: " + std::string(pipe_message_kind_name(message.kind)));
        return SessionStep::keep_reading;
    }
    switch (message.kind) {
        case K::Pid:
            log_(LogStream::out, "Client reported PID: " + std::to_string(message.pid));
            break;
        case K::Auth:
            authenticate(message.text);
            break;
        case K::Heartbeat:
            break;
        case K::Unknown:
            log_(LogStream::err, "Unknown message: " + message.text);
            break;
        case K::KioskOn:
            controls_.activate_kiosk();
            controls_.set_kiosk_shutdown_block(true);
            controls_.refresh_shutdown_block();
            log_(LogStream::out, "Kiosk shutdown block ENABLED");
            break;
        case K::ShutdownGuardOn:
            controls_.set_shutdown_guard(true);
            controls_.refresh_shutdown_block();
            log_(LogStream::out, "Shutdown guard ENABLED");
            break;
        case K::WinKeyGuardOn:
            controls_.enable_win_key_guard();
            log_(LogStream::out, "Windows key guard ON");
            break;
        case K::KioskOff:
            controls_.deactivate_kiosk();
            controls_.set_kiosk_shutdown_block(false);
            controls_.refresh_shutdown_block();
            log_(LogStream::out, "Kiosk shutdown block DISABLED");
            break;
        case K::ShutdownGuardOff:
            controls_.set_shutdown_guard(false);
            controls_.refresh_shutdown_block();
            log_(LogStream::out, "Shutdown guard DISABLED");
            break;
        case K::WinKeyGuardOff:
            controls_.disable_win_key_guard();
            log_(LogStream::out, "Windows key guard OFF");
            break;
        case K::AdminExit:
        case K::ServerExit:
            log_(LogStream::out, "Authorized exit (admin/server)");
            controls_.request_exit();
            controls_.send_exit_ack();
            return SessionStep::session_over;
        case K::Uninstall:
            log_(LogStream::out, "Uninstall requested");
            controls_.request_exit();
            controls_.remove_autostart_entry();
            controls_.send_exit_ack();
            return SessionStep::session_over;
        case K::ServerShutdown:
        case K::ServerReboot:
        case K::ServerLogoff:
            // The watchdog only stops blocking and leaves; the machine's fate is the server's.
            controls_.set_kiosk_shutdown_block(false);
            controls_.set_shutdown_guard(false);
            controls_.refresh_shutdown_block();
            log_(LogStream::out, "Shutdown force-allowed (authorized)");
            controls_.request_exit();
            controls_.send_exit_ack();
            return SessionStep::session_over;
    }
    return SessionStep::keep_reading;
}

}  // namespace kv
