#pragma once
// The command line of kestrivon-publish: one subcommand and its options, checked before
// anything is read or written.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace kv::publish {

enum class Verb { files, installer, stage, verify, status };

struct PublishCommand {
    std::optional<Verb> verb;  // none: only help was asked for
    bool help = false;
    std::string version;
    std::string from;
    std::string installer;
    std::vector<std::string> args;
    std::string secret_key;
    std::string public_key;
    std::string out;
    std::string bundle;
    std::string updates;
    std::string install;
    std::string minisign;
    bool replace = false;
};

// Everything after the program name. Fails with a usage error: "unknown command `{}`",
// "unknown option `{}` for `{}`", "`{}` needs a value", "`{}` given twice",
// "`{}` takes no value", "missing `{}`", "unexpected argument `{}`".
Result<PublishCommand> parse_publish_arguments(const std::vector<std::string>& arguments);

// The whole --help text.
std::string_view usage_text();

}  // namespace kv::publish
