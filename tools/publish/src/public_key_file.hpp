#pragma once
// The key line of a minisign public key file ("untrusted comment: ..." and the key), as
// minisign -G writes it; a file holding only the key line is taken too.
#include <string>
#include <string_view>

#include "result.hpp"

namespace kv::publish {

// Fails with "not a minisign public key (the second line of minisign -G's .pub file)".
Result<std::string> public_key_line(std::string_view file_text);

}  // namespace kv::publish
