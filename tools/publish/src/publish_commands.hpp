#pragma once
// The subcommands. Each prints what it did on `out` and fails with the reason to show on
// standard error; the program turns a failure into exit code 1.
#include <ostream>

#include "local_files.hpp"
#include "publish_arguments.hpp"
#include "result.hpp"

namespace kv::publish {

Status make_files_bundle(const PublishCommand& command, std::ostream& out);
Status make_installer_bundle(const PublishCommand& command, std::ostream& out);
// `updates` is --updates or the service's folder.
Status stage_bundle(const PublishCommand& command, const fs::path& updates, std::ostream& out);
Status verify_staged_update(const PublishCommand& command, const fs::path& updates, std::ostream& out);
Status show_station_status(const fs::path& updates, std::ostream& out);

// The whole program after the program name: prints, returns the exit code (0, 1 or 2).
int run_publish(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace kv::publish
