#pragma once
// The watchdog's startup, main loop and orderly exit.
#include <string>
#include <vector>

namespace kv {

// `arguments` without the program name. Always returns exit code 0.
int run_watchdog(const std::vector<std::string>& arguments);

}  // namespace kv
