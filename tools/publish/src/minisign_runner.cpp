#include "minisign_runner.hpp"

namespace kv::publish {

std::vector<std::string> minisign_sign_arguments(const fs::path& secret_key, const fs::path& message,
                                                 const fs::path& signature, const std::string& trusted_comment) {
    // -H asks for the prehashed form, the only one the service accepts; minisign 0.11 makes it
    // anyway, older versions only when asked.
    return {"-S", "-H", "-s", utf8_of(secret_key), "-m", utf8_of(message), "-x", utf8_of(signature), "-t", trusted_comment};
}

}  // namespace kv::publish
