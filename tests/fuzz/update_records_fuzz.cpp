// Everything the update engine reads from disk that a publisher, or an attacker with write
// access to the updates folder, controls: manifests, markers and signature texts.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "marker_policy.hpp"
#include "minisign.hpp"
#include "update_decisions.hpp"
#include "update_records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto manifest = kv::parse_app_manifest(bytes)) {
        for (const auto& file : manifest->files) {
            (void)kv::safe_relative_components(file.relative_path);
            (void)kv::digest_matches_lowercased(file.sha256, "00");
        }
    }
    (void)kv::parse_pending_installer(bytes);
    if (auto relaunch = kv::parse_pending_relaunch(bytes)) {
        // What the service writes back must read back the same.
        const auto again = kv::parse_pending_relaunch(kv::serialize_pending_relaunch(*relaunch));
        if (!again || again->installer_pid != relaunch->installer_pid || again->created_at != relaunch->created_at) {
            __builtin_trap();
        }
    }
    (void)kv::check_pending_update_content(bytes);
    (void)kv::decode_minisign_signature(bytes);
    (void)kv::verify_signature_with_key("message", bytes, "RWQDW1zL7IFZMLxyiFUa6Wuo1VMJAgA9STSGYDn41VsjgsbeMClZ+ab6");
    (void)kv::safe_relative_components(bytes);
    (void)kv::is_private_installer_folder_name(bytes);
    return 0;
}
