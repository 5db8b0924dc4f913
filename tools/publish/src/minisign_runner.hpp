#pragma once
// Signing is minisign's own job: its password prompt and key handling stay its own.
#include <string>
#include <vector>

#include "local_files.hpp"
#include "result.hpp"

namespace kv::publish {

// minisign -S -H (prehashed) over `message` into `signature`, with the trusted comment.
// `program` is a path or a name looked up on the PATH ("minisign" when empty). The child
// shares this console, so a password prompt reaches the operator. Fails with
// "cannot start {}: {}" or "{} failed with exit code {}".
Status sign_with_minisign(const std::string& program, const fs::path& secret_key, const fs::path& message,
                          const fs::path& signature, const std::string& trusted_comment);

// The minisign arguments for that job.
std::vector<std::string> minisign_sign_arguments(const fs::path& secret_key, const fs::path& message,
                                                 const fs::path& signature, const std::string& trusted_comment);

}  // namespace kv::publish
