#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "minisign_runner.hpp"
#include "system_error.hpp"

extern char** environ;

namespace kv::publish {

Status sign_with_minisign(const std::string& program, const fs::path& secret_key, const fs::path& message,
                          const fs::path& signature, const std::string& trusted_comment) {
    const std::string name = program.empty() ? "minisign" : program;
    std::vector<std::string> arguments = minisign_sign_arguments(secret_key, message, signature, trusted_comment);
    arguments.insert(arguments.begin(), name);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (const int error = posix_spawnp(&child, name.c_str(), nullptr, nullptr, argv.data(), environ); error != 0) {
        return fail("cannot start " + name + ": " + format_system_error(std::strerror(error), static_cast<std::uint32_t>(error)));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return fail("cannot wait for " + name + ": " + std::strerror(errno));
    }
    if (!WIFEXITED(status)) return fail(name + " ended by signal " + std::to_string(WTERMSIG(status)));
    // posix_spawnp reports a missing program as exit code 127 of the child.
    if (WEXITSTATUS(status) == 127) return fail("cannot start " + name + ": not found on the PATH");
    if (WEXITSTATUS(status) != 0) return fail(name + " failed with exit code " + std::to_string(WEXITSTATUS(status)));
    return ok();
}

}  // namespace kv::publish
