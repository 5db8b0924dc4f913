#include "dry_run.hpp"
#include "publish_commands.hpp"

namespace kv::publish {

Status verify_staged_update(const PublishCommand& command, const fs::path& updates, std::ostream& out) {
    auto key = read_public_key(path_from_utf8(command.public_key));
    if (!key) return fail(key.error());
    DryRunInput input{updates, std::move(key).value(), std::nullopt, std::chrono::system_clock::now()};
    if (!command.install.empty()) input.install = path_from_utf8(command.install);
    const DryRunReport report = dry_run_apply_check(input);
    for (const std::string& line : report.lines) out << line << "\n";
    if (!report.would_apply) return fail(report.outcome);
    out << report.outcome << "\n";
    return ok();
}

}  // namespace kv::publish
