#include <windows.h>

#include "child_process.hpp"
#include "minisign_runner.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv::publish {
namespace {

// A bare name is looked up as the system looks up programs: beside this tool, the current
// folder, the system folders, then the PATH.
Result<std::wstring> resolve_program(const std::string& program) {
    std::wstring name = widen(program.empty() ? "minisign" : program);
    if (name.find_first_of(L"\\/:") != std::wstring::npos) return name;
    std::wstring found(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length == 0) return fail("cannot start " + narrow(name) + ": " + last_error_text());
        if (length < found.size()) {
            found.resize(length);
            return found;
        }
        found.resize(length);
    }
}

}  // namespace

Status sign_with_minisign(const std::string& program, const fs::path& secret_key, const fs::path& message,
                          const fs::path& signature, const std::string& trusted_comment) {
    const auto resolved = resolve_program(program);
    if (!resolved) return fail(resolved.error());
    ChildRun run;
    run.program = *resolved;
    for (const std::string& argument : minisign_sign_arguments(secret_key, message, signature, trusted_comment)) {
        run.arguments.push_back(widen(argument));
    }
    run.console = ChildConsole::inherit;
    const auto outcome = run_child(run);
    if (!outcome) return fail("cannot start " + narrow(run.program) + ": " + outcome.error());
    if (outcome->exit_code != 0) {
        return fail(narrow(run.program) + " failed with exit code " + std::to_string(outcome->exit_code));
    }
    return ok();
}

}  // namespace kv::publish
