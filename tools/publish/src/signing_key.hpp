#pragma once
// The public key a signature must verify with, and where it came from for messages.
#include <string>

#include "local_files.hpp"
#include "result.hpp"

namespace kv::publish {

struct SigningKey {
    std::string line;         // the base64 key line
    std::string description;  // "maker.pub" or "the key this tool was built with"
};

// Reads a minisign .pub file. Fails with "cannot read public key {}: {}" or
// "public key {}: not a minisign public key ...".
Result<SigningKey> read_public_key(const fs::path& file);

// --public-key when given, else the key built into this tool (and into the service built beside it).
Result<SigningKey> public_key_or_built_in(const std::string& option);

// Checks the signature as the service does; fails with "update-verify: ...".
Status verify_with(const SigningKey& key, std::string_view message, std::string_view signature_text);

}  // namespace kv::publish
