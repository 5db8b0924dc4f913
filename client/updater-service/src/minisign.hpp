#pragma once
// Verification of minisign signatures, prehashed mode only: Ed25519 over the BLAKE2b-512
// digest of the message, plus the global signature over the trusted comment.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"

namespace kv {

struct MinisignPublicKey {
    std::array<std::uint8_t, 8> key_id{};
    std::array<std::uint8_t, 32> key{};
};

struct MinisignSignature {
    std::string algorithm;  // "ED" prehashed, "Ed" legacy
    std::array<std::uint8_t, 8> key_id{};
    std::array<std::uint8_t, 64> signature{};
    std::string trusted_comment;
    std::array<std::uint8_t, 64> global_signature{};
};

// The key line of a minisign public key: base64 of "Ed", key id and key (42 bytes).
Result<MinisignPublicKey> decode_minisign_public_key(std::string_view base64_line);

// The four-line signature text; the first line's content is not looked at.
Result<MinisignSignature> decode_minisign_signature(std::string_view text);

using Blake2b512 = std::array<std::uint8_t, 64>;

Blake2b512 blake2b_512(std::string_view message);

// Fails with the verifier's description of what is wrong.
Status verify_minisign(std::string_view message, const MinisignSignature& signature, const MinisignPublicKey& key);
// The same for a message whose BLAKE2b-512 digest was computed already.
Status verify_minisign_digest(const Blake2b512& message_digest, const MinisignSignature& signature,
                              const MinisignPublicKey& key);

// Everything the update engine needs: decode the embedded key and the signature, verify.
// Errors: "update-verify: bad embedded public key: {}", "update-verify: cannot decode
// signature: {}", "update-verify: signature invalid: {}".
Status verify_signature_with_key(std::string_view message, std::string_view signature_text,
                                 std::string_view public_key_base64);

// The same given the message's BLAKE2b-512 digest instead of the message; the same texts.
Status verify_signature_of_digest_with_key(const Blake2b512& message_digest, std::string_view signature_text,
                                           std::string_view public_key_base64);

// The same against the public key this program was built with.
Status verify_update_signature(std::string_view message, std::string_view signature_text);
// The same again, given the message's BLAKE2b-512 digest.
Status verify_update_signature_of_digest(const Blake2b512& message_digest, std::string_view signature_text);

}  // namespace kv
