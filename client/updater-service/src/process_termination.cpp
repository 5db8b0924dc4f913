#include "process_termination.hpp"

#include <windows.h>

#include "process_utilities.hpp"
#include "unique_resource.hpp"

namespace kv {

std::optional<std::string> SystemTerminationTarget::image_path(std::uint32_t pid) { return process_image_path(pid); }

Status SystemTerminationTarget::terminate(std::uint32_t pid) {
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (!process) return fail("OpenProcess failed (error " + std::to_string(GetLastError()) + ")");
    if (!TerminateProcess(process.get(), 0)) return fail("TerminateProcess failed (error " + std::to_string(GetLastError()) + ")");
    return ok();
}

Result<std::string> kill_process_command(std::string_view argument, const LogSink& log) {
    SystemTerminationTarget target;
    return run_kill_command(argument, GetCurrentProcessId(), target, log);
}

}  // namespace kv
