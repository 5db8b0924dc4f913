#include "publish_arguments.hpp"

#include <algorithm>
#include <array>

namespace kv::publish {
namespace {

enum class Kind { text, list, flag };

struct OptionSpec {
    std::string_view name;
    Kind kind;
    bool required;
    std::string PublishCommand::*text = nullptr;
    std::vector<std::string> PublishCommand::*list = nullptr;
    bool PublishCommand::*flag = nullptr;
};

constexpr OptionSpec text_option(std::string_view name, std::string PublishCommand::*member, bool required) {
    return {name, Kind::text, required, member, nullptr, nullptr};
}

struct VerbSpec {
    std::string_view name;
    Verb verb;
    std::vector<OptionSpec> options;
};

const std::vector<VerbSpec>& verbs() {
    static const std::vector<VerbSpec> table = {
        {"files",
         Verb::files,
         {text_option("--version", &PublishCommand::version, true), text_option("--from", &PublishCommand::from, true),
          text_option("--secret-key", &PublishCommand::secret_key, true),
          text_option("--public-key", &PublishCommand::public_key, true), text_option("--out", &PublishCommand::out, true),
          text_option("--minisign", &PublishCommand::minisign, false)}},
        {"installer",
         Verb::installer,
         {text_option("--version", &PublishCommand::version, true),
          text_option("--installer", &PublishCommand::installer, true),
          {"--arg", Kind::list, false, nullptr, &PublishCommand::args, nullptr},
          text_option("--secret-key", &PublishCommand::secret_key, true),
          text_option("--public-key", &PublishCommand::public_key, true), text_option("--out", &PublishCommand::out, true),
          text_option("--minisign", &PublishCommand::minisign, false)}},
        {"stage",
         Verb::stage,
         {text_option("--bundle", &PublishCommand::bundle, true), text_option("--updates", &PublishCommand::updates, false),
          text_option("--public-key", &PublishCommand::public_key, false),
          {"--replace", Kind::flag, false, nullptr, nullptr, &PublishCommand::replace}}},
        {"verify",
         Verb::verify,
         {text_option("--updates", &PublishCommand::updates, false),
          text_option("--public-key", &PublishCommand::public_key, true),
          text_option("--install", &PublishCommand::install, false)}},
        {"status", Verb::status, {text_option("--updates", &PublishCommand::updates, false)}},
    };
    return table;
}

std::string quoted(std::string_view text) { return "`" + std::string(text) + "`"; }

bool is_help(std::string_view word) { return word == "--help" || word == "-h" || word == "help"; }

}  // namespace

Result<PublishCommand> parse_publish_arguments(const std::vector<std::string>& arguments) {
    PublishCommand command;
    if (arguments.empty()) return fail("no command given");
    if (is_help(arguments.front())) {
        if (arguments.size() > 1) return fail("unexpected argument " + quoted(arguments[1]));
        command.help = true;
        return command;
    }
    const auto verb = std::find_if(verbs().begin(), verbs().end(), [&](const VerbSpec& v) { return v.name == arguments.front(); });
    if (verb == verbs().end()) return fail("unknown command " + quoted(arguments.front()));
    command.verb = verb->verb;

    std::vector<std::string_view> seen;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view word = arguments[i];
        if (word == "--help" || word == "-h") {
            command.help = true;
            continue;
        }
        // --name=value is the same as --name value.
        const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string_view::npos;
        const std::string_view name = word.substr(0, equals);
        const auto option = std::find_if(verb->options.begin(), verb->options.end(),
                                         [&](const OptionSpec& o) { return o.name == name; });
        if (option == verb->options.end()) {
            if (!word.starts_with("-")) return fail("unexpected argument " + quoted(word));
            return fail("unknown option " + quoted(name) + " for " + quoted(verb->name));
        }
        if (option->kind == Kind::flag) {
            if (equals != std::string_view::npos) return fail(quoted(name) + " takes no value");
            if (std::find(seen.begin(), seen.end(), name) != seen.end()) return fail(quoted(name) + " given twice");
            seen.push_back(option->name);
            command.*(option->flag) = true;
            continue;
        }
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(word.substr(equals + 1));
        } else {
            // The next word is the value whatever it looks like: installer arguments may begin with "-".
            if (i + 1 >= arguments.size()) return fail(quoted(name) + " needs a value");
            value = arguments[++i];
        }
        if (option->kind == Kind::list) {
            (command.*(option->list)).push_back(std::move(value));
            continue;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) return fail(quoted(name) + " given twice");
        if (value.empty()) return fail(quoted(name) + " needs a value");
        seen.push_back(option->name);
        command.*(option->text) = std::move(value);
    }
    if (command.help) return command;
    for (const OptionSpec& option : verb->options) {
        if (option.required && std::find(seen.begin(), seen.end(), option.name) == seen.end()) {
            return fail("missing " + quoted(option.name));
        }
    }
    return command;
}

std::string_view usage_text() {
    return R"(kestrivon-publish: signs, stages and checks Kestrivon client updates.

On the signing PC (the secret key never goes to a station):
  kestrivon-publish files --version V --from DIR --secret-key maker.key --public-key maker.pub --out BUNDLE
      A staged file update: every file below DIR, its manifest and the manifest's signature.
  kestrivon-publish installer --version V --installer SETUP.EXE [--arg A]... --secret-key maker.key
                              --public-key maker.pub --out BUNDLE
      An installer update: the installer, its signature and its arguments (none: "/S").
  Signing runs minisign (found on the PATH, or --minisign PROGRAM), which asks for the key's
  password itself. The bundle is kept only when its signature verifies with --public-key.

On each station, as an administrator:
  kestrivon-publish stage --bundle BUNDLE [--updates DIR] [--public-key maker.pub] [--replace]
      Checks the bundle, then writes it into the updates folder in the order the service expects,
      the marker last and fresh. Refuses while an update is pending, unless --replace.
  kestrivon-publish verify [--updates DIR] --public-key maker.pub [--install DIR]
      A dry run of the service's check of what is staged; with --install, which files would change.
      Exits 0 only when the service would apply it.
  kestrivon-publish status [--updates DIR]
      Windows: the service, the watchdog and the client, the pending markers, last-error.txt.

--updates defaults to the service's folder, %ProgramData%\Kestrivon\Client\updates (Windows only).
stage checks signatures with the key this tool was built with unless --public-key is given.

Exit codes: 0 done, 1 refused or failed (the reason on standard error), 2 wrong command line.
)";
}

}  // namespace kv::publish
