#include "signing_key.hpp"

#include "minisign.hpp"
#include "public_key_file.hpp"
#include "update_public_key.hpp"

namespace kv::publish {

Result<SigningKey> read_public_key(const fs::path& file) {
    const FileBytes read = read_file_bytes(file);
    if (!read.ok()) return fail("cannot read public key " + utf8_of(file) + ": " + read.error);
    auto line = public_key_line(read.bytes);
    if (!line) return fail("public key " + utf8_of(file) + ": " + line.error());
    return SigningKey{std::move(line).value(), utf8_of(file)};
}

Result<SigningKey> public_key_or_built_in(const std::string& option) {
    if (!option.empty()) return read_public_key(path_from_utf8(option));
    return SigningKey{std::string(update_public_key_base64), "the key this tool was built with"};
}

Status verify_with(const SigningKey& key, std::string_view message, std::string_view signature_text) {
    return verify_signature_with_key(message, signature_text, key.line);
}

}  // namespace kv::publish
