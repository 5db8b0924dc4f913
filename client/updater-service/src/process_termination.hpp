#pragma once
// "KILL {pid}" against the real processes of the machine.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "process_termination_rules.hpp"
#include "result.hpp"

namespace kv {

// Image paths through process_image_path; termination with exit code 0, not waited for.
class SystemTerminationTarget final : public TerminationTarget {
public:
    std::optional<std::string> image_path(std::uint32_t pid) override;
    Status terminate(std::uint32_t pid) override;
};

// The command as the pipe runs it, refusing this process's own id.
Result<std::string> kill_process_command(std::string_view argument, const LogSink& log);

}  // namespace kv
