#pragma once
// Runs a system tool or helper program with separately passed arguments and waits for it,
// optionally bounded in time and with its outputs captured.
#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "result.hpp"
#include "unique_resource.hpp"

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

struct OutputDrain;

// A child that runs. Its outputs are read while it runs, so a child that writes a lot never
// stalls on a full pipe.
class StartedChild {
public:
    StartedChild(StartedChild&&) = default;
    StartedChild& operator=(StartedChild&&) = delete;
    // A reader still blocked (a grandchild may hold a pipe) is left to end on its own.
    ~StartedChild();

    // Waits for the child, bounded by the time limit, and collects its outputs. Fails with the
    // system error text when the wait or a read of an output fails.
    Result<ChildOutcome> finish();

private:
    friend Result<StartedChild> start_child(const ChildRun& run);
    StartedChild() = default;

    UniqueHandle process_;
    std::optional<ChildTimeLimit> time_limit_;
    std::shared_ptr<OutputDrain> output_, error_;
    std::thread output_reader_, error_reader_;
};

// Fails with the system error text when the child cannot be started.
Result<StartedChild> start_child(const ChildRun& run);

// start_child, then finish: fails when the child cannot be started or watched.
Result<ChildOutcome> run_child(const ChildRun& run);

// Reads a pipe until every writer has closed it; a failed read other than that end is an
// error with the system text, not the end of the output.
Result<std::string> read_to_end(HANDLE pipe);

}  // namespace kv
