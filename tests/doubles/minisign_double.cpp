// Stand-in for minisign.exe, which Debian does not ship for Windows: signs as `minisign -S`
// does, in the prehashed form, with a key made by `minisign -G -W` (no password). Takes
// -S [-H] -s KEY -m FILE -x SIGNATURE -t COMMENT; exits 0 when the signature is written, 1 otherwise.
#include <windows.h>

#include <gcrypt.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "base64.hpp"
#include "crypto_library.hpp"
#include "win_text.hpp"

namespace {

std::string encode_base64(const std::string& bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(value >> 18) & 63];
        text += alphabet[(value >> 12) & 63];
        text += i + 1 < bytes.size() ? alphabet[(value >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? alphabet[value & 63] : '=';
    }
    return text;
}

std::optional<std::string> read_all(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Ed25519 over `message` with the 32-byte seed and public key.
std::optional<std::string> ed25519_sign(const std::string& seed, const std::string& public_key, const std::string& message) {
    gcry_sexp_t key = nullptr, data = nullptr, signature = nullptr;
    std::optional<std::string> result;
    if (gcry_sexp_build(&key, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))", 32,
                        public_key.data(), 32, seed.data()) == 0 &&
        gcry_sexp_build(&data, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) == 0 &&
        gcry_pk_sign(&signature, data, key) == 0) {
        std::string r_s;
        for (const char* part : {"r", "s"}) {
            gcry_sexp_t token = gcry_sexp_find_token(signature, part, 0);
            std::size_t length = 0;
            const char* bytes = token ? gcry_sexp_nth_data(token, 1, &length) : nullptr;
            if (bytes != nullptr && length == 32) r_s.append(bytes, length);
            gcry_sexp_release(token);
        }
        if (r_s.size() == 64) result = r_s;
    }
    gcry_sexp_release(key);
    gcry_sexp_release(data);
    gcry_sexp_release(signature);
    return result;
}

int refuse(const char* why) {
    std::fprintf(stderr, "minisign stand-in: %s\n", why);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::map<std::wstring, std::wstring> options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"-S" || word == L"-H") continue;
        if (i + 1 >= argc) return refuse("option without a value");
        options[word] = argv[++i];
    }
    if (!options.contains(L"-s") || !options.contains(L"-m") || !options.contains(L"-x")) return refuse("needs -s, -m and -x");
    const auto key_file = read_all(options[L"-s"]);
    const auto message = read_all(options[L"-m"]);
    if (!key_file || !message) return refuse("cannot read the key or the file");

    std::istringstream lines(*key_file);
    std::string line;
    std::getline(lines, line);
    std::getline(lines, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto key = kv::decode_base64(line);
    // "Ed", kdf "\0\0" (no password), "B2", salt, limits, then key id, secret key, checksum.
    if (!key || key->size() != 158 || key->substr(0, 2) != "Ed" || key->substr(2, 2) != std::string(2, '\0')) {
        return refuse("not an unencrypted minisign secret key");
    }
    const std::string key_id = key->substr(54, 8);
    const std::string seed = key->substr(62, 32);
    const std::string public_key = key->substr(94, 32);

    kv::ensure_crypto_library();
    std::string digest(64, '\0');
    gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest.data(), message->data(), message->size());
    const auto signature = ed25519_sign(seed, public_key, digest);
    const std::string comment = kv::narrow(options.contains(L"-t") ? options[L"-t"] : L"signed by the minisign stand-in");
    const auto global = signature ? ed25519_sign(seed, public_key, *signature + comment) : std::nullopt;
    if (!global) return refuse("signing failed");

    std::ofstream out{std::filesystem::path(options[L"-x"]), std::ios::binary | std::ios::trunc};
    out << "untrusted comment: signature from minisign secret key\n"
        << encode_base64("ED" + key_id + *signature) << "\n"
        << "trusted comment: " << comment << "\n"
        << encode_base64(*global) << "\n";
    return out.good() ? 0 : refuse("cannot write the signature");
}
