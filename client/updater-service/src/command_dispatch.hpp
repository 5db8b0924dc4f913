#pragma once
// Executes one decoded request of the privileged pipe under the command lock and gives the
// reply line without its LF: "OK...", or "ERR " and the error text.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "monotonic_clock.hpp"
#include "privileged_command_handlers.hpp"
#include "result.hpp"
#include "supervision_records.hpp"

namespace kv {

// "OK..." unchanged, an error as "ERR {}".
std::string reply_text(const Result<std::string>& outcome);

// At most one job of a kind runs; the flag is set while it runs, whatever its outcome.
class EnsureJob {
public:
    // Starts `body` on a detached thread: "OK queued", or "OK in progress" when one runs.
    Result<std::string> start(std::function<void()> body);
    bool running() const { return flag_->load(); }

private:
    // Shared with the job's thread, which clears it when the body returns.
    std::shared_ptr<std::atomic<bool>> flag_ = std::make_shared<std::atomic<bool>>(false);
};

struct CommandDispatchSettings {
    SupervisionRecords* records = nullptr;
    const MonotonicClock* clock = nullptr;
    LogSink log;
    PrivilegedCommandHandlers handlers;
    // "KILL {pid}": the argument token; the success reply "OK {pid}" or the error.
    std::function<Result<std::string>(std::string_view argument)> kill;
};

class CommandDispatch {
public:
    explicit CommandDispatch(CommandDispatchSettings settings) : settings_(std::move(settings)) {}

    // Takes the command lock while the request is tokenised and executed.
    std::string execute(std::string_view decoded_request, std::uint32_t caller_pid);

private:
    Result<std::string> run(std::string_view decoded_request, std::uint32_t caller_pid);

    CommandDispatchSettings settings_;
    std::mutex command_lock_;
    EnsureJob virtual_printer_;
    EnsureJob web_filter_;
};

}  // namespace kv
