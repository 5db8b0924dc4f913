#pragma once
// "KILL {pid}": which processes the station client may have ended, decided without Windows.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

// An optional "+", then one or more ASCII digits and nothing else, at most 4294967295.
std::optional<std::uint32_t> parse_pid(std::string_view text);

// The image's file name without its last extension; a name without a dot, or whose only
// dot is its first character, is kept whole. Either slash separates folders.
std::string image_stem(std::string_view image_path);

// By stem, ignoring ASCII letter case, wherever the program lies.
bool is_protected_product_name(std::string_view stem);
bool is_protected_system_name(std::string_view stem);

// The two operations on the target that need the system.
class TerminationTarget {
public:
    virtual ~TerminationTarget() = default;
    // The full image path, or nothing when the process cannot be opened or queried.
    virtual std::optional<std::string> image_path(std::uint32_t pid) = 0;
    // Opens with the terminate right only and ends with exit code 0; the errors are
    // "OpenProcess failed (error {})" and "TerminateProcess failed (error {})".
    virtual Status terminate(std::uint32_t pid) = 0;
};

// The checks in order, then the termination. Returns the success reply "OK {pid}"; logs
// only a success.
Result<std::string> run_kill_command(std::string_view argument, std::uint32_t own_pid, TerminationTarget& target,
                                     const LogSink& log);

}  // namespace kv
