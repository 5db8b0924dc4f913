#pragma once
// "KILL {pid}" against the real processes of the machine.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "process_termination_rules.hpp"
#include "result.hpp"
#include "unique_resource.hpp"

namespace kv {

// The process is opened once, for its image path and its termination, so a process id
// reused between the check and the kill cannot end another process. Termination with exit
// code 0, not waited for.
class SystemTerminationTarget final : public TerminationTarget {
public:
    std::optional<std::string> image_path(std::uint32_t pid) override;
    Status terminate(std::uint32_t pid) override;

private:
    std::uint32_t checked_pid_ = 0;
    UniqueHandle checked_;        // query-limited and terminate rights, of checked_pid_
    DWORD open_error_ = ERROR_SUCCESS;  // why the terminate right was not granted
};

// The command as the pipe runs it, refusing this process's own id.
Result<std::string> kill_process_command(std::string_view argument, const LogSink& log);

}  // namespace kv
