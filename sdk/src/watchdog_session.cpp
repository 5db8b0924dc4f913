#include "watchdog_session.hpp"

#include <thread>

#include "token_file.hpp"
#include "win_text.hpp"

namespace kv::station {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Between two tries to connect while a watchdog is being started or replaced.
constexpr milliseconds retry_pause{200};

milliseconds left_until(Clock::time_point deadline) {
    return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

std::string ms_text(milliseconds timeout) { return std::to_string(timeout.count()) + " ms"; }

}  // namespace

Outcome<WatchdogSession> WatchdogSession::open(const Settings& settings) {
    const auto deadline = Clock::now() + settings.watchdog_timeout;
    Answer last = answer(KV_ERR_TIMEOUT, "no try to connect");
    for (bool first = true; first || left_until(deadline).count() > 0; first = false) {
        if (!first) std::this_thread::sleep_for(std::min(retry_pause, left_until(deadline)));
        auto pipe = PipeConnection::open(settings.watchdog_pipe, left_until(deadline));
        if (!pipe.ok()) {
            last = pipe.failure();
            if (last.status == KV_ERR_NO_PIPE || last.status == KV_ERR_BUSY) continue;
            return last;
        }
        WatchdogSession session(std::move(pipe.value()), settings);
        const Answer greeting = session.read_line(left_until(deadline));
        if (greeting.ok()) {
            if (greeting.text == ready_line) return session;
            return answer(KV_ERR_PROTOCOL, "expected WATCHDOG_READY, the watchdog sent: " + visible(greeting.text));
        }
        if (greeting.status == KV_ERR_TIMEOUT) {
            // Time ran out on a try after others were dropped: what the client met is the dropping.
            if (last.status == KV_ERR_CLOSED) break;
            return answer(KV_ERR_TIMEOUT, "connected, but no WATCHDOG_READY within " + ms_text(settings.watchdog_timeout));
        }
        if (greeting.status != KV_ERR_CLOSED) return greeting;
        // A watchdog that has just been started drops whatever connection it finds before it
        // listens; one that refuses the peer drops it too. Either way: try again.
        last = answer(KV_ERR_CLOSED,
                      "the watchdog closed every connection before WATCHDOG_READY (it serves only the Kestrivon-Client.exe "
                      "beside Kestrivon-Watchdog.exe)");
    }
    if (last.status == KV_ERR_NO_PIPE) {
        last.text = "no watchdog to connect to within " + ms_text(settings.watchdog_timeout) + ": " + last.text;
    } else if (last.status == KV_ERR_BUSY) {
        last.text = "no watchdog took the connection within " + ms_text(settings.watchdog_timeout) + ": " + narrow(settings.watchdog_pipe) +
                    " exists but no instance was free (a watchdog serves one client at a time, and the service keeps the name "
                    "while its watchdog is stopped or being restarted)";
    }
    return last;
}

Answer WatchdogSession::authenticate() {
    const Answer token = read_token(settings_);
    if (!token.ok()) return token;
    return send("AUTH:" + token.text + "\n");
}

Answer WatchdogSession::send(std::string_view bytes) {
    Answer written = pipe_.write(bytes, settings_.watchdog_timeout);
    if (written.status == KV_ERR_CLOSED) written.text = "the watchdog has closed the session";
    return written;
}

Answer WatchdogSession::exit(std::string_view line) {
    if (Answer sent = send(line); !sent.ok()) return sent;
    const Answer acknowledged = read_line(settings_.watchdog_timeout);
    if (acknowledged.ok()) {
        if (acknowledged.text == exit_ack_line) return answer(KV_OK, std::string(exit_ack_line));
        return answer(KV_ERR_PROTOCOL, "expected EXIT_ACK, the watchdog sent: " + visible(acknowledged.text));
    }
    if (acknowledged.status == KV_ERR_TIMEOUT) {
        // The watchdog answers nothing to a command it rejects.
        return answer(KV_ERR_TIMEOUT, "no EXIT_ACK within " + ms_text(settings_.watchdog_timeout) +
                                          " (is the session authenticated with the current watchdog.token?)");
    }
    return acknowledged;
}

Answer WatchdogSession::read_line(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto line = lines_.next_line()) return answer(KV_OK, std::move(*line));
        std::string chunk;
        bool complete = true;
        Answer read = pipe_.read(chunk, left_until(deadline), complete);
        if (read.status == KV_ERR_TIMEOUT) return answer(KV_ERR_TIMEOUT, "the watchdog sent no line within " + ms_text(timeout));
        if (read.status == KV_ERR_CLOSED) return answer(KV_ERR_CLOSED, "the watchdog has closed the session");
        if (!read.ok()) return read;
        lines_.append(chunk);
    }
}

}  // namespace kv::station
