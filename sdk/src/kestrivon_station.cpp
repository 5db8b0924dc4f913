// The C interface: each call turns its arguments into one of the C++ operations and copies
// the answer out. Nothing thrown inside may cross into a C, Delphi or .NET caller.
#include "kestrivon_station.h"

#include <memory>
#include <new>
#include <string>

#include "heartbeat_thread.hpp"
#include "pipes_link.hpp"
#include "privileged_exchange.hpp"
#include "station_protocol.hpp"
#include "station_settings.hpp"
#include "token_file.hpp"
#include "watchdog_session.hpp"

struct kv_heartbeats {
    explicit kv_heartbeats(kv::station::Settings settings) : thread(std::move(settings)) {}
    kv::station::HeartbeatThread thread;
};

struct kv_watchdog {
    explicit kv_watchdog(kv::station::WatchdogSession opened) : session(std::move(opened)) {}
    kv::station::WatchdogSession session;
};

namespace {

using kv::station::Answer;
using kv::station::answer;
using kv::station::settings_from;

template <class Body>
kv_status guarded(char* text, size_t text_size, Body&& body) noexcept {
    try {
        const Answer result = body();
        kv::station::copy_text(result.text, text, text_size);
        return result.status;
    } catch (const std::bad_alloc&) {
        kv::station::copy_text("the station SDK ran out of memory", text, text_size);
    } catch (const std::exception& failure) {
        kv::station::copy_text(failure.what(), text, text_size);  // no allocation on this path
    } catch (...) {
        kv::station::copy_text("the station SDK failed", text, text_size);
    }
    return KV_ERR_INTERNAL;
}

Answer privileged(const kv_options* options, std::string_view request) {
    return kv::station::privileged_exchange(request, settings_from(options));
}

Answer ensure(const kv_options* options, const char* request, int* in_progress) {
    Answer reply = privileged(options, request);
    if (!reply.ok()) return reply;
    const auto running = kv::station::ensure_in_progress(reply.text);
    if (!running) return answer(KV_ERR_PROTOCOL, std::string(request) + " answered neither queued nor in progress: " + reply.text);
    if (in_progress) *in_progress = *running ? 1 : 0;
    return reply;
}

Answer missing(const char* what) { return answer(KV_ERR_ARGUMENT, std::string("no ") + what + " given"); }

// What a watchdog command line leaves in the caller's text: the reply it never gets.
Answer sent(Answer written, std::string_view line) {
    if (written.ok()) written.text = "sent " + std::string(line.substr(0, line.find('\n')));
    return written;
}

}  // namespace

extern "C" {

const char* kv_status_name(kv_status status) {
    switch (status) {
        case KV_OK: return "KV_OK";
        case KV_ERR_REPLY: return "KV_ERR_REPLY";
        case KV_ERR_ARGUMENT: return "KV_ERR_ARGUMENT";
        case KV_ERR_TOO_LONG: return "KV_ERR_TOO_LONG";
        case KV_ERR_NO_PIPE: return "KV_ERR_NO_PIPE";
        case KV_ERR_BUSY: return "KV_ERR_BUSY";
        case KV_ERR_TIMEOUT: return "KV_ERR_TIMEOUT";
        case KV_ERR_CLOSED: return "KV_ERR_CLOSED";
        case KV_ERR_PROTOCOL: return "KV_ERR_PROTOCOL";
        case KV_ERR_TOKEN: return "KV_ERR_TOKEN";
        case KV_ERR_SYSTEM: return "KV_ERR_SYSTEM";
        case KV_ERR_INTERNAL: return "KV_ERR_INTERNAL";
    }
    return "KV_ERR_UNKNOWN";
}

kv_status kv_privileged_request(const kv_options* options, const char* request, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return request ? privileged(options, request) : missing("request"); });
}

kv_status kv_ping(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "PING"); });
}

kv_status kv_heartbeat(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "HEARTBEAT"); });
}

kv_status kv_supervise_off(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "SUPERVISE off"); });
}

kv_status kv_kill(const kv_options* options, unsigned long pid, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "KILL " + std::to_string(pid)); });
}

kv_status kv_settime(const kv_options* options, kv_int64 epoch, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "SETTIME " + std::to_string(epoch)); });
}

kv_status kv_dnspolicy(const kv_options* options, int on, unsigned long* changed, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        Answer reply = privileged(options, on ? "DNSPOLICY on" : "DNSPOLICY off");
        if (!reply.ok()) return reply;
        const auto count = kv::station::reply_count(reply.text);
        if (!count) return answer(KV_ERR_PROTOCOL, "DNSPOLICY answered without a count: " + reply.text);
        if (changed) *changed = *count;
        return reply;
    });
}

kv_status kv_vprinter_ensure(const kv_options* options, int* in_progress, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return ensure(options, "VPRINTER ensure", in_progress); });
}

kv_status kv_webfilter_ensure(const kv_options* options, int* in_progress, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return ensure(options, "WEBFILTER ensure", in_progress); });
}

kv_status kv_watchdog_managed(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "WATCHDOG managed"); });
}

kv_status kv_watchdog_stop(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return privileged(options, "WATCHDOG stop"); });
}

kv_status kv_heartbeats_start(const kv_options* options, kv_heartbeats** heartbeats, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!heartbeats) return missing("place for the heartbeats");
        *heartbeats = nullptr;
        const auto settings = settings_from(options);
        *heartbeats = new kv_heartbeats(settings);
        return answer(KV_OK, "heartbeats every " + std::to_string(settings.heartbeat_interval.count()) + " ms");
    });
}

kv_status kv_heartbeats_status(kv_heartbeats* heartbeats, unsigned long* sent_count, unsigned long* failed_count, char* text,
                               size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!heartbeats) return missing("heartbeats");
        const auto counts = heartbeats->thread.counts();
        if (sent_count) *sent_count = counts.sent;
        if (failed_count) *failed_count = counts.failed;
        return counts.last;
    });
}

void kv_heartbeats_stop(kv_heartbeats* heartbeats) { delete heartbeats; }

kv_status kv_watchdog_open(const kv_options* options, kv_watchdog** session, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!session) return missing("place for the session");
        *session = nullptr;
        auto opened = kv::station::WatchdogSession::open(settings_from(options));
        if (!opened.ok()) return opened.failure();
        *session = new kv_watchdog(std::move(opened.value()));
        return answer(KV_OK, std::string(kv::station::ready_line));
    });
}

kv_status kv_watchdog_authenticate(kv_watchdog* session, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return session ? sent(session->session.authenticate(), "AUTH:") : missing("session"); });
}

kv_status kv_watchdog_report_pid(kv_watchdog* session, unsigned long pid, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!session) return missing("session");
        const std::string line = "PID:" + std::to_string(pid) + "\n";
        return sent(session->session.send(line), line);
    });
}

kv_status kv_watchdog_send(kv_watchdog* session, kv_watchdog_command command, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!session) return missing("session");
        const auto line = kv::station::command_line(command);
        if (!line) return answer(KV_ERR_ARGUMENT, "unknown watchdog command " + std::to_string(static_cast<int>(command)));
        return sent(session->session.send(*line), *line);
    });
}

kv_status kv_watchdog_exit(kv_watchdog* session, kv_watchdog_exit_command command, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!session) return missing("session");
        const auto line = kv::station::exit_line(command);
        if (!line) return answer(KV_ERR_ARGUMENT, "unknown watchdog exit command " + std::to_string(static_cast<int>(command)));
        return session->session.exit(*line);
    });
}

kv_status kv_watchdog_send_raw(kv_watchdog* session, const char* bytes, size_t length, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        if (!session) return missing("session");
        if (!bytes && length > 0) return missing("bytes");
        Answer written = session->session.send(std::string_view(bytes ? bytes : "", length));
        if (written.ok()) written.text = "sent " + std::to_string(length) + " bytes";
        return written;
    });
}

kv_status kv_watchdog_read_line(kv_watchdog* session, unsigned long timeout_ms, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        return session ? session->session.read_line(std::chrono::milliseconds(timeout_ms)) : missing("session");
    });
}

void kv_watchdog_close(kv_watchdog* session) { delete session; }

kv_status kv_watchdog_token(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] { return kv::station::read_token(settings_from(options)); });
}

kv_status kv_planned_exit(const kv_options* options, char* text, size_t text_size) {
    return guarded(text, text_size, [&] {
        kv::station::PipesLink link(settings_from(options));
        return kv::station::planned_exit(link);
    });
}

}  // extern "C"
