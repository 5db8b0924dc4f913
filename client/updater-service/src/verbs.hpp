#pragma once
// The service program's command line: at most one verb, compared exactly.
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kv {

enum class Verb { service, install, uninstall, apply_once };

struct UnknownVerb {
    std::string message;  // printed with LF on standard error, exit code 2
};

// `arguments` excludes the program name. Only the first argument is looked at.
std::variant<Verb, UnknownVerb> parse_verb(const std::vector<std::string>& arguments);

inline constexpr int exit_unknown_verb = 2;

}  // namespace kv
