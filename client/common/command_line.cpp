#include "command_line.hpp"

namespace kv {

std::u16string quote_windows_argument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
        return std::u16string(argument);
    }
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only in front of a quote: double those, then escape it.
        if (c == u'"') {
            quoted.append(backslashes * 2 + 1, u'\\');
        } else {
            quoted.append(backslashes, u'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    // Trailing backslashes stand before the closing quote, so they are doubled too.
    quoted.append(backslashes * 2, u'\\');
    quoted.push_back(u'"');
    return quoted;
}

std::u16string build_command_line(std::u16string_view program, const std::vector<std::u16string>& arguments) {
    std::u16string line = quote_windows_argument(program);
    for (const auto& argument : arguments) {
        line.push_back(u' ');
        line += quote_windows_argument(argument);
    }
    return line;
}

}  // namespace kv
