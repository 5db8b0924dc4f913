#pragma once
// The privileged commands whose work lives outside the pipe. Each is an optional function:
// the program fills in what it has, and a command left empty answers that it is not
// available, never a false "OK". The pipe has already checked the command's words, so a
// handler only sees a well-formed request.
#include <cstdint>
#include <functional>
#include <string_view>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

struct CommandCaller {
    std::uint32_t pid;  // the connected client's process id
    const LogSink& log; // the service log
};

struct PrivilegedCommandHandlers {
    // "SETTIME {epoch}": the argument token as sent (its grammar and range are the handler's).
    std::function<Status(std::string_view epoch, const CommandCaller&)> set_time;
    // "DNSPOLICY on|off": the number of policy values changed.
    std::function<Result<std::uint32_t>(bool on, const CommandCaller&)> dns_policy;
    // "WATCHDOG managed": success when the service holds the watchdog pipe, otherwise the
    // error "watchdog not managed by the service".
    std::function<Status(const CommandCaller&)> watchdog_managed;
    // "WATCHDOG stop": ends the service-launched watchdog after an announced exit.
    std::function<Status(const CommandCaller&)> watchdog_stop;
    // Bodies of the two ensure jobs. The pipe runs each on a thread of its own, at most one
    // of a kind at a time, and never waits for it; the body logs its own outcome.
    std::function<void(const LogSink&)> virtual_printer_job;
    std::function<void(const LogSink&)> web_filter_job;
};

}  // namespace kv
