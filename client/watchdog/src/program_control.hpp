#pragma once
// Ways the program ends or grows other than its orderly exit.
#include <functional>

namespace kv {

// Starts a thread nobody waits for. A thread that cannot be started is fatal.
void start_detached_thread(std::function<void()> body);

// Ends the process with exit code 0 from any thread, first lifting a lock-down this process
// put in place, so nothing of it outlives the process in the registry.
[[noreturn]] void end_process_early();

}  // namespace kv
