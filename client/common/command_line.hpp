#pragma once
// Windows hands a child one command-line string; these build it so that the child's
// CommandLineToArgvW (or C runtime) splits it back into exactly the arguments given.
#include <string>
#include <string_view>
#include <vector>

namespace kv {

std::u16string quote_windows_argument(std::u16string_view argument);

// The program path comes first, then each argument, separated by one space.
std::u16string build_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments);

}  // namespace kv
