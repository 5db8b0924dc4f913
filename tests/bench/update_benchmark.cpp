// Timings of the update engine for scripts/bench-update.sh, which sets the same files before
// the tools it compares them with and prints the ratios.
//   update_benchmark signature INSTALLER SIGNATURE_FILE SHA256 ROUNDS
//       the installer branch's read, SHA-256 and signature check up to the verdict; also the
//       same work done one digest after the other, as a reference
//   update_benchmark apply INSTALL_DIR UPDATES_DIR ROUNDS
//       apply_staged_update of the manifest in UPDATES_DIR (flushes included) onto INSTALL_DIR
//   update_benchmark primitives MIB [FEATURE...]
//       SHA-256 and BLAKE2b-512 speed of this build's libgcrypt and the hardware features it
//       uses, optionally with some turned off (as "intel-avx2"), to compare its code paths
// Prints one "name seconds" line per round.
#include <windows.h>

#include <gcrypt.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "canonical_path.hpp"
#include "crypto_library.hpp"
#include "file_io.hpp"
#include "installer_digest.hpp"
#include "minisign.hpp"
#include "sha256.hpp"
#include "staged_update.hpp"
#include "update_decisions.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int fail_with(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

int signature_rounds(const std::filesystem::path& installer, const std::filesystem::path& signature_file,
                     const std::string& expected, int rounds) {
    const kv::FileRead signature = kv::read_whole_file(signature_file);
    if (!signature.ok()) return fail_with("signature unreadable");
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        const auto read = kv::read_installer_with_digests(installer);
        if (!read) return fail_with("read failed: " + read.error());
        if (!kv::digest_matches_trimmed(expected, read->sha256_hex)) return fail_with("checksum mismatch");
        if (kv::Status verified = kv::verify_update_signature_of_digest(read->blake2b_512, signature.bytes); !verified) {
            return fail_with(verified.error());
        }
        std::printf("side-by-side %.4f\n", seconds_since(start));

        start = Clock::now();
        const kv::FileRead bytes = kv::read_whole_file(installer);
        if (!bytes.ok()) return fail_with("read failed");
        if (!kv::digest_matches_trimmed(expected, kv::sha256_hex(bytes.bytes))) return fail_with("checksum mismatch");
        if (kv::Status verified = kv::verify_update_signature(bytes.bytes, signature.bytes); !verified) {
            return fail_with(verified.error());
        }
        std::printf("one-after-the-other %.4f\n", seconds_since(start));
        std::fflush(stdout);
    }
    return 0;
}

int apply_rounds(const std::filesystem::path& install, const std::filesystem::path& updates, int rounds) {
    const kv::FileRead manifest = kv::read_whole_file(updates / L"manifest.json");
    if (!manifest.ok()) return fail_with("manifest unreadable");
    const auto parsed = kv::parse_app_manifest(manifest.bytes);
    if (!parsed) return fail_with(parsed.error());
    kv::UpdateEnvironment environment;
    environment.updates = updates;
    environment.install_dir = [install] { return kv::canonicalize_path(install); };
    environment.log = [](std::string_view) {};
    environment.record = [](std::string_view) {};
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        if (kv::Status applied = kv::apply_staged_update(environment, parsed->files); !applied) return fail_with(applied.error());
        std::printf("apply %.4f\n", seconds_since(start));
        std::fflush(stdout);
    }
    return 0;
}

int primitive_speeds(std::size_t mib, const std::vector<std::string>& disabled) {
    // Only before the library is initialised.
    for (const auto& feature : disabled) gcry_control(GCRYCTL_DISABLE_HWF, feature.c_str(), nullptr);
    kv::ensure_crypto_library();
    const std::string bytes(mib << 20, 'k');
    char digest[64];
    for (const auto& [name, algorithm] : {std::pair{"sha256", GCRY_MD_SHA256}, std::pair{"blake2b-512", GCRY_MD_BLAKE2B_512}}) {
        const auto start = Clock::now();
        gcry_md_hash_buffer(algorithm, digest, bytes.data(), bytes.size());
        std::printf("%s %.4f\n", name, seconds_since(start));
    }
    // libgcrypt picks its code paths from these features (blake2b: avx2 when "intel-avx2" is listed).
    gcry_control(GCRYCTL_PRINT_CONFIG, stdout);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::string mode = argc > 1 ? kv::narrow(argv[1]) : "";
    if (mode == "signature" && argc == 6) return signature_rounds(argv[2], argv[3], kv::narrow(argv[4]), _wtoi(argv[5]));
    if (mode == "apply" && argc == 5) return apply_rounds(argv[2], argv[3], _wtoi(argv[4]));
    if (mode == "primitives" && argc >= 3) {
        std::vector<std::string> disabled;
        for (int i = 3; i < argc; ++i) disabled.push_back(kv::narrow(argv[i]));
        return primitive_speeds(static_cast<std::size_t>(_wtoi(argv[2])), disabled);
    }
    return fail_with("usage: update_benchmark signature INSTALLER SIGNATURE SHA256 ROUNDS | apply INSTALL UPDATES ROUNDS | "
                     "primitives MIB [FEATURE...]");
}
