#include "minisign.hpp"

#include <gcrypt.h>

#include <algorithm>
#include <vector>

#include "base64.hpp"
#include "crypto_library.hpp"
#include "update_public_key.hpp"

namespace kv {
namespace {

constexpr std::string_view invalid_encoding = "Invalid encoding in minisign data";
constexpr std::string_view unexpected_algorithm = "Unexpected signature algorithm";
constexpr std::string_view different_key = "The signature was created with a different key than the one provided";
constexpr std::string_view verification_failed = "The signature verification failed";
constexpr std::string_view trusted_comment_prefix = "trusted comment: ";

template <size_t N>
void copy_bytes(std::array<std::uint8_t, N>& target, std::string_view source) {
    std::copy_n(reinterpret_cast<const std::uint8_t*>(source.data()), N, target.begin());
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Ed25519 (RFC 8032) over `message`; libgcrypt hashes internally.
bool ed25519_verifies(const std::array<std::uint8_t, 32>& key, std::string_view message,
                      const std::array<std::uint8_t, 64>& signature) {
    ensure_crypto_library();
    gcry_sexp_t key_sexp = nullptr, data_sexp = nullptr, signature_sexp = nullptr;
    bool verified = false;
    if (gcry_sexp_build(&key_sexp, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))", 32,
                        key.data()) == 0 &&
        gcry_sexp_build(&data_sexp, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) == 0 &&
        gcry_sexp_build(&signature_sexp, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                        signature.data() + 32) == 0) {
        verified = gcry_pk_verify(signature_sexp, data_sexp, key_sexp) == 0;
    }
    gcry_sexp_release(key_sexp);
    gcry_sexp_release(data_sexp);
    gcry_sexp_release(signature_sexp);
    return verified;
}

}  // namespace

Result<MinisignPublicKey> decode_minisign_public_key(std::string_view base64_line) {
    const auto bytes = decode_base64(base64_line);
    if (!bytes || bytes->size() != 42 || bytes->substr(0, 2) != "Ed") return fail(std::string(invalid_encoding));
    MinisignPublicKey key;
    copy_bytes(key.key_id, std::string_view(*bytes).substr(2, 8));
    copy_bytes(key.key, std::string_view(*bytes).substr(10, 32));
    return key;
}

Result<MinisignSignature> decode_minisign_signature(std::string_view text) {
    const auto lines = split_lines(text);
    if (lines.size() < 4) return fail(std::string(invalid_encoding));
    for (size_t i = 4; i < lines.size(); ++i) {
        if (!lines[i].empty()) return fail(std::string(invalid_encoding));
    }
    const auto signature_bytes = decode_base64(lines[1]);
    if (!signature_bytes || signature_bytes->size() != 74) return fail(std::string(invalid_encoding));
    if (!lines[2].starts_with(trusted_comment_prefix)) return fail(std::string(invalid_encoding));
    const auto global_bytes = decode_base64(lines[3]);
    if (!global_bytes || global_bytes->size() != 64) return fail(std::string(invalid_encoding));

    MinisignSignature signature;
    signature.algorithm = signature_bytes->substr(0, 2);
    copy_bytes(signature.key_id, std::string_view(*signature_bytes).substr(2, 8));
    copy_bytes(signature.signature, std::string_view(*signature_bytes).substr(10, 64));
    signature.trusted_comment = std::string(lines[2].substr(trusted_comment_prefix.size()));
    copy_bytes(signature.global_signature, *global_bytes);
    return signature;
}

Blake2b512 blake2b_512(std::string_view message) {
    ensure_crypto_library();
    Blake2b512 digest{};
    gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest.data(), message.data(), message.size());
    return digest;
}

Status verify_minisign(std::string_view message, const MinisignSignature& signature, const MinisignPublicKey& key) {
    // Legacy signatures are refused before the message is hashed at all.
    if (signature.algorithm != "ED") return fail(std::string(unexpected_algorithm));
    return verify_minisign_digest(blake2b_512(message), signature, key);
}

Status verify_minisign_digest(const Blake2b512& message_digest, const MinisignSignature& signature,
                              const MinisignPublicKey& key) {
    // Legacy "Ed" signatures are refused without being tried: only prehashed ones are accepted.
    if (signature.algorithm != "ED") return fail(std::string(unexpected_algorithm));
    if (signature.key_id != key.key_id) return fail(std::string(different_key));

    const std::string_view digest(reinterpret_cast<const char*>(message_digest.data()), message_digest.size());
    if (!ed25519_verifies(key.key, digest, signature.signature)) return fail(std::string(verification_failed));

    std::string global_message(reinterpret_cast<const char*>(signature.signature.data()), signature.signature.size());
    global_message += signature.trusted_comment;
    if (!ed25519_verifies(key.key, global_message, signature.global_signature)) {
        return fail(std::string(verification_failed));
    }
    return ok();
}

namespace {

// Decodes the key and the signature, then verifies with `verify`, wrapping each error text.
template <class Verify>
Status verify_with_key(std::string_view signature_text, std::string_view public_key_base64, const Verify& verify) {
    const auto key = decode_minisign_public_key(public_key_base64);
    if (!key) return fail("update-verify: bad embedded public key: " + key.error());
    const auto signature = decode_minisign_signature(signature_text);
    if (!signature) return fail("update-verify: cannot decode signature: " + signature.error());
    if (Status verified = verify(*signature, *key); !verified) return fail("update-verify: signature invalid: " + verified.error());
    return ok();
}

}  // namespace

Status verify_signature_with_key(std::string_view message, std::string_view signature_text,
                                 std::string_view public_key_base64) {
    return verify_with_key(signature_text, public_key_base64, [&](const MinisignSignature& signature, const MinisignPublicKey& key) {
        return verify_minisign(message, signature, key);
    });
}

Status verify_update_signature(std::string_view message, std::string_view signature_text) {
    return verify_signature_with_key(message, signature_text, update_public_key_base64);
}

Status verify_signature_of_digest_with_key(const Blake2b512& message_digest, std::string_view signature_text,
                                           std::string_view public_key_base64) {
    return verify_with_key(signature_text, public_key_base64, [&](const MinisignSignature& signature, const MinisignPublicKey& key) {
        return verify_minisign_digest(message_digest, signature, key);
    });
}

Status verify_update_signature_of_digest(const Blake2b512& message_digest, std::string_view signature_text) {
    return verify_signature_of_digest_with_key(message_digest, signature_text, update_public_key_base64);
}

}  // namespace kv
