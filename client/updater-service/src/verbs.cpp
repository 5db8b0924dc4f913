#include "verbs.hpp"

namespace kv {

std::variant<Verb, UnknownVerb> parse_verb(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Verb::service;
    const std::string& verb = arguments.front();
    if (verb == "service") return Verb::service;
    if (verb == "install") return Verb::install;
    if (verb == "uninstall") return Verb::uninstall;
    if (verb == "apply-once") return Verb::apply_once;
    return UnknownVerb{"unknown command '" + verb + "'. expected install, uninstall, apply-once or service"};
}

}  // namespace kv
