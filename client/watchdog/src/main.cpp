// Kestrivon-Watchdog: a windowless program in the customer's session.
#include <windows.h>

#include <string>
#include <vector>

#include "watchdog_program.hpp"
#include "win_text.hpp"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kv::narrow(argv[i]));
    return kv::run_watchdog(arguments);
}
