#include "process_termination.hpp"

#include <windows.h>

#include "process_utilities.hpp"
#include "unique_resource.hpp"

namespace kv {

std::optional<std::string> SystemTerminationTarget::image_path(std::uint32_t pid) {
    checked_pid_ = pid;
    checked_.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
    open_error_ = checked_ ? ERROR_SUCCESS : GetLastError();
    if (checked_) return process_image_path(checked_.get());
    // A process we may look at but not end still gets its name checked and its refusal.
    const UniqueHandle query_only(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!query_only) return std::nullopt;
    return process_image_path(query_only.get());
}

Status SystemTerminationTarget::terminate(std::uint32_t pid) {
    if (pid != checked_pid_ || !checked_) {
        return fail("OpenProcess failed (error " + std::to_string(pid == checked_pid_ ? open_error_ : ERROR_INVALID_PARAMETER) + ")");
    }
    if (!TerminateProcess(checked_.get(), 0)) return fail("TerminateProcess failed (error " + std::to_string(GetLastError()) + ")");
    return ok();
}

Result<std::string> kill_process_command(std::string_view argument, const LogSink& log) {
    SystemTerminationTarget target;
    return run_kill_command(argument, GetCurrentProcessId(), target, log);
}

}  // namespace kv
