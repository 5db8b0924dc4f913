// What the publishing tool reads from an operator or a bundle: its command line, key files,
// installer.json and the names of the files it publishes. What it writes must read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bundle_layout.hpp"
#include "public_key_file.hpp"
#include "publish_arguments.hpp"
#include "update_records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words(1);
    for (const char c : bytes) {
        if (c == '\0') {
            words.emplace_back();
        } else {
            words.back().push_back(c);
        }
    }
    (void)kv::publish::parse_publish_arguments(words);
    (void)kv::publish::public_key_line(bytes);
    if (auto bundle = kv::publish::parse_installer_bundle(bytes)) {
        const auto again = kv::publish::parse_installer_bundle(kv::publish::serialize_installer_bundle(*bundle));
        if (!again || (kv::publish::check_version_label(bundle->version) && again->version != bundle->version)) __builtin_trap();
        (void)kv::publish::check_installer_file_name(bundle->installer);
        // The marker stage writes from these fields must be one the service reads back the same.
        const kv::PendingInstallerUpdate marker{bundle->version, bundle->installer, bundle->sha256, std::string(bytes), bundle->args};
        const auto read = kv::parse_pending_installer(kv::serialize_pending_installer(marker));
        if (!read || read->args.size() != marker.args.size()) __builtin_trap();
    }
    // A few dozen names find the ordering and case faults as well as thousands, and faster.
    std::vector<kv::ManifestFile> files;
    for (std::size_t i = 0; i < words.size() && i < 64; ++i) files.push_back({words[i], "00"});
    if (auto manifest = kv::publish::build_manifest(std::string(bytes.substr(0, 8)), files)) {
        const auto read = kv::parse_app_manifest(kv::serialize_app_manifest(*manifest));
        if (!read || read->files.size() != manifest->files.size()) __builtin_trap();
        for (std::size_t i = 0; i < read->files.size(); ++i) {
            if (read->files[i].relative_path != manifest->files[i].relative_path) __builtin_trap();
        }
    }
    return 0;
}
