#pragma once
// Runs a system tool or helper program with separately passed arguments and waits for it.
#include <windows.h>

#include <string>
#include <vector>

#include "result.hpp"

namespace kv {

enum class ChildConsole {
    inherit,  // the child writes to the caller's console, if there is one
    hidden,   // no console window; standard handles go to NUL unless captured
};

struct ChildRun {
    std::wstring program;  // full path; never looked up through the search path
    std::vector<std::wstring> arguments;
    ChildConsole console = ChildConsole::hidden;
    bool capture_output = false;  // standard output is read back into ChildOutcome::output
};

struct ChildOutcome {
    DWORD exit_code = 0;
    std::string output;  // raw bytes of standard output when captured
};

// Fails with the system error text when the child cannot be started.
Result<ChildOutcome> run_child(const ChildRun& run);

}  // namespace kv
