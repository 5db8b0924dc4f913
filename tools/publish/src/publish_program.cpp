#include "publish_commands.hpp"

namespace kv::publish {

int run_publish(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    prepare_console();
    const auto usage_error = [&](const std::string& text) {
        err << "kestrivon-publish: " << text << "\nRun \"kestrivon-publish --help\" for the usage.\n";
        return 2;
    };
    const auto command = parse_publish_arguments(arguments);
    if (!command) return usage_error(command.error());
    if (command->help) {
        out << usage_text();
        return 0;
    }

    const Verb verb = *command->verb;
#ifndef _WIN32
    if (verb == Verb::status) {
        err << "kestrivon-publish: status runs on a station: it asks the Windows service manager and process list\n";
        return 1;
    }
#endif
    fs::path updates;
    if (verb == Verb::stage || verb == Verb::verify || verb == Verb::status) {
        if (!command->updates.empty()) {
            updates = path_from_utf8(command->updates);
        } else if (const auto folder = default_updates_folder()) {
            updates = *folder;
        } else {
            return usage_error("missing `--updates` (only on Windows does the tool know the service's folder)");
        }
    }

    Status done;
    switch (verb) {
        case Verb::files: done = make_files_bundle(*command, out); break;
        case Verb::installer: done = make_installer_bundle(*command, out); break;
        case Verb::stage: done = stage_bundle(*command, updates, out); break;
        case Verb::verify: done = verify_staged_update(*command, updates, out); break;
        case Verb::status:
#ifdef _WIN32
            done = show_station_status(updates, out);
#endif
            break;
    }
    out.flush();
    if (!done) {
        err << "kestrivon-publish: " << done.error() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace kv::publish
