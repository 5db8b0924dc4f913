#pragma once
// Pure rules of the two ensure jobs: reading the printer script's result and recognising
// the web filter service's configured program.
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace kv {

// Exit code 0: the last line of the trimmed output. Otherwise the first line of the error
// output, trimmed, or "powershell failed" when there is none. Both are read as lossy UTF-8.
Result<std::string> interpret_powershell_result(std::uint32_t exit_code, std::string_view output, std::string_view error_output);

// The service's configured command line starts with the program (quotes and case aside)
// and the program's path ends there: nothing, a quote or a space follows.
bool web_filter_path_matches(std::string_view configured, std::string_view program);

enum class WebFilterStep { report_running, report_pending, start_then_install, install };

// By the service manager's state: 4 running; 2, 3, 5 pending; 1, 6, 7 stopped or paused.
WebFilterStep web_filter_step_for_state(std::uint32_t state);

}  // namespace kv
