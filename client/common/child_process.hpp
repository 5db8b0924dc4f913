#pragma once
// Runs a system tool or helper program with separately passed arguments and waits for it,
// optionally bounded in time and with its outputs captured.
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "result.hpp"

namespace kv {

enum class ChildConsole {
    inherit,  // the child writes to the caller's console, if there is one
    hidden,   // no console window; standard handles go to NUL unless captured
    windowless,  // no console window, and the default standard handles
};

struct ChildTimeLimit {
    std::chrono::milliseconds limit;
    std::chrono::milliseconds poll;                 // how often the child is looked at
    std::chrono::milliseconds after_terminate{0};   // how long to wait for it to go once ended
};

struct ChildRun {
    std::wstring program;  // full path; never looked up through the search path
    std::vector<std::wstring> arguments;
    ChildConsole console = ChildConsole::hidden;
    bool capture_output = false;  // standard output into ChildOutcome::output
    bool capture_error = false;   // standard error into ChildOutcome::error_output
    std::optional<ChildTimeLimit> time_limit;
    // Added to (or replacing in) the caller's environment for this child only.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
};

struct ChildOutcome {
    DWORD exit_code = 0;
    bool timed_out = false;  // ended by us after its time limit; exit_code is meaningless then
    std::string output;
    std::string error_output;
};

// Fails with the system error text when the child cannot be started or watched. The outputs
// are read while the child runs, so a child that writes a lot never stalls on a full pipe.
Result<ChildOutcome> run_child(const ChildRun& run);

}  // namespace kv
