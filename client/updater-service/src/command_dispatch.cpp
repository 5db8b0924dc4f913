#include "command_dispatch.hpp"

#include <system_error>
#include <thread>

#include "pipe_commands.hpp"

namespace kv {
namespace {

Result<std::string> as_reply(const Status& status, std::string success) {
    if (!status) return fail(status.error());
    return success;
}

Failure not_available(std::string_view what) { return fail(std::string(what) + " is not available in this service build"); }

}  // namespace

std::string reply_text(const Result<std::string>& outcome) { return outcome ? *outcome : "ERR " + outcome.error(); }

Result<std::string> EnsureJob::start(std::function<void()> body) {
    if (flag_->exchange(true)) return std::string("OK in progress");
    try {
        std::thread([flag = flag_, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // An escaping exception would end the whole service; only this job's outcome is lost.
            }
            flag->store(false);
        }).detach();
    } catch (const std::system_error& error) {
        flag_->store(false);
        return fail(std::string("cannot start the job: ") + error.what());
    }
    return std::string("OK queued");
}

std::string CommandDispatch::execute(std::string_view decoded_request, std::uint32_t caller_pid) {
    std::lock_guard lock(command_lock_);
    return reply_text(run(decoded_request, caller_pid));
}

Result<std::string> CommandDispatch::run(std::string_view decoded_request, std::uint32_t caller_pid) {
    const auto command = parse_pipe_command(decoded_request);
    if (!command) return fail(command.error());
    const PrivilegedCommandHandlers& handlers = settings_.handlers;
    const CommandCaller caller{caller_pid, settings_.log};
    switch (command->kind) {
        case PipeCommandKind::ping:
            return std::string("OK");
        case PipeCommandKind::heartbeat:
            settings_.records->heartbeats.record_beat(caller_pid, settings_.clock->now());
            return std::string("OK");
        case PipeCommandKind::supervise_off:
            settings_.records->authorized_exit.announce(settings_.clock->now());
            settings_.log("supervision suppressed for authorized exit");
            return std::string("OK");
        case PipeCommandKind::kill:
            if (!settings_.kill) return not_available("KILL");
            return settings_.kill(command->argument);
        case PipeCommandKind::set_time:
            if (!handlers.set_time) return not_available("SETTIME");
            return as_reply(handlers.set_time(command->argument, caller), "OK");
        case PipeCommandKind::dns_policy_on:
        case PipeCommandKind::dns_policy_off: {
            if (!handlers.dns_policy) return not_available("DNSPOLICY");
            const auto changed = handlers.dns_policy(command->kind == PipeCommandKind::dns_policy_on, caller);
            if (!changed) return fail(changed.error());
            return "OK " + std::to_string(*changed);
        }
        case PipeCommandKind::watchdog_managed:
            // Without a watchdog supervisor the service holds no watchdog pipe: the table's
            // own answer is the true one.
            if (!handlers.watchdog_managed) return fail("watchdog not managed by the service");
            return as_reply(handlers.watchdog_managed(caller), "OK managed");
        case PipeCommandKind::watchdog_stop:
            if (!handlers.watchdog_stop) return not_available("WATCHDOG stop");
            return as_reply(handlers.watchdog_stop(caller), "OK");
        case PipeCommandKind::virtual_printer_ensure:
            if (!handlers.virtual_printer_job) return not_available("VPRINTER");
            return virtual_printer_.start([job = handlers.virtual_printer_job, log = settings_.log] { job(log); });
        case PipeCommandKind::web_filter_ensure:
            if (!handlers.web_filter_job) return not_available("WEBFILTER");
            return web_filter_.start([job = handlers.web_filter_job, log = settings_.log] { job(log); });
    }
    return fail("unknown command");
}

}  // namespace kv
