// Kestrivon station SDK for C++ clients: the C calls of kestrivon_station.h with strings,
// and owners that close a watchdog session and stop heartbeats when they go out of scope.
// Header only; link the same library as for C.
#ifndef KESTRIVON_STATION_HPP
#define KESTRIVON_STATION_HPP

#include <string>
#include <string_view>
#include <utility>

#include "kestrivon_station.h"

namespace kestrivon {

// A call's status and its text: the reply line as the service sent it, or the SDK's error.
struct Reply {
    kv_status status = KV_ERR_INTERNAL;
    std::string text;

    bool ok() const { return status == KV_OK; }
    explicit operator bool() const { return ok(); }
};

// kv_options with owned strings; empty and 0 mean the defaults.
struct Options {
    std::wstring privileged_pipe;
    std::wstring watchdog_pipe;
    std::wstring token_file;
    unsigned long busy_timeout_ms = 0;
    unsigned long reply_timeout_ms = 0;
    unsigned long watchdog_timeout_ms = 0;
    unsigned long heartbeat_interval_ms = 0;

    // Valid while this object lives unchanged.
    kv_options c() const {
        kv_options options{};
        options.privileged_pipe = privileged_pipe.empty() ? nullptr : privileged_pipe.c_str();
        options.watchdog_pipe = watchdog_pipe.empty() ? nullptr : watchdog_pipe.c_str();
        options.token_file = token_file.empty() ? nullptr : token_file.c_str();
        options.busy_timeout_ms = busy_timeout_ms;
        options.reply_timeout_ms = reply_timeout_ms;
        options.watchdog_timeout_ms = watchdog_timeout_ms;
        options.heartbeat_interval_ms = heartbeat_interval_ms;
        return options;
    }
};

namespace detail {
template <class Call>
Reply call(Call&& c) {
    char text[KV_TEXT_SIZE] = {0};
    const kv_status status = c(text, sizeof(text));
    return Reply{status, text};
}
}  // namespace detail

// The privileged pipe and the planned exit.
class Station {
public:
    Station() = default;
    explicit Station(Options options) : options_(std::move(options)) {}

    Reply request(const std::string& request) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_privileged_request(o, request.c_str(), t, n); });
    }
    Reply ping() const { return run(kv_ping); }
    Reply heartbeat() const { return run(kv_heartbeat); }
    Reply supervise_off() const { return run(kv_supervise_off); }
    Reply kill(unsigned long pid) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_kill(o, pid, t, n); });
    }
    Reply settime(kv_int64 epoch) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_settime(o, epoch, t, n); });
    }
    Reply dns_policy(bool on, unsigned long* changed = nullptr) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_dnspolicy(o, on ? 1 : 0, changed, t, n); });
    }
    Reply vprinter_ensure(int* in_progress = nullptr) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_vprinter_ensure(o, in_progress, t, n); });
    }
    Reply webfilter_ensure(int* in_progress = nullptr) const {
        return run([&](const kv_options* o, char* t, size_t n) { return kv_webfilter_ensure(o, in_progress, t, n); });
    }
    Reply watchdog_managed() const { return run(kv_watchdog_managed); }
    Reply watchdog_stop() const { return run(kv_watchdog_stop); }
    Reply watchdog_token() const { return run(kv_watchdog_token); }
    Reply planned_exit() const { return run(kv_planned_exit); }

    const Options& options() const { return options_; }

private:
    template <class Call>
    Reply run(Call&& c) const {
        const kv_options options = options_.c();
        return detail::call([&](char* t, size_t n) { return c(&options, t, n); });
    }

    Options options_;
};

// Heartbeats on a background thread for as long as this object lives.
class Heartbeats {
public:
    explicit Heartbeats(const Options& options = {}) {
        const kv_options c = options.c();
        started_ = detail::call([&](char* t, size_t n) { return kv_heartbeats_start(&c, &beats_, t, n); });
    }
    ~Heartbeats() { kv_heartbeats_stop(beats_); }
    Heartbeats(const Heartbeats&) = delete;
    Heartbeats& operator=(const Heartbeats&) = delete;

    const Reply& started() const { return started_; }
    // The last beat's reply; the counts go to `sent` and `failed` when given.
    Reply status(unsigned long* sent = nullptr, unsigned long* failed = nullptr) const {
        return detail::call([&](char* t, size_t n) { return kv_heartbeats_status(beats_, sent, failed, t, n); });
    }

private:
    kv_heartbeats* beats_ = nullptr;
    Reply started_;
};

// One session on the watchdog's pipe, open from construction (see opened()) to destruction.
class WatchdogSession {
public:
    explicit WatchdogSession(const Options& options = {}) {
        const kv_options c = options.c();
        opened_ = detail::call([&](char* t, size_t n) { return kv_watchdog_open(&c, &session_, t, n); });
    }
    ~WatchdogSession() { kv_watchdog_close(session_); }
    WatchdogSession(const WatchdogSession&) = delete;
    WatchdogSession& operator=(const WatchdogSession&) = delete;

    const Reply& opened() const { return opened_; }
    Reply authenticate() { return run([&](char* t, size_t n) { return kv_watchdog_authenticate(session_, t, n); }); }
    Reply report_pid(unsigned long pid) { return run([&](char* t, size_t n) { return kv_watchdog_report_pid(session_, pid, t, n); }); }
    Reply send(kv_watchdog_command command) {
        return run([&](char* t, size_t n) { return kv_watchdog_send(session_, command, t, n); });
    }
    Reply exit(kv_watchdog_exit_command command) {
        return run([&](char* t, size_t n) { return kv_watchdog_exit(session_, command, t, n); });
    }
    Reply send_raw(std::string_view bytes) {
        return run([&](char* t, size_t n) { return kv_watchdog_send_raw(session_, bytes.data(), bytes.size(), t, n); });
    }
    Reply read_line(unsigned long timeout_ms) {
        return run([&](char* t, size_t n) { return kv_watchdog_read_line(session_, timeout_ms, t, n); });
    }

private:
    template <class Call>
    Reply run(Call&& c) {
        if (!session_) return opened_;
        return detail::call(c);
    }

    kv_watchdog* session_ = nullptr;
    Reply opened_;
};

}  // namespace kestrivon

#endif  // KESTRIVON_STATION_HPP
