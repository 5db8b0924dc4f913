// Side-file names of an interrupted replace: whatever name the install folder holds, what is
// recognised rebuilds to exactly that name, and every name the replace forms is recognised.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "file_replacement.hpp"
#include "interrupted_replace.hpp"
#ifdef _WIN32
#include "win_text.hpp"
#endif

namespace {

// Any bytes as one native path text: UTF-16 on Windows (invalid UTF-8 becomes U+FFFD).
std::filesystem::path native(const std::string& bytes) {
#ifdef _WIN32
    return kv::widen(bytes);
#else
    return bytes;
#endif
}

bool plain_digits(const std::string& text) { return !text.empty() && (text == "0" || text[0] != '0'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string name(reinterpret_cast<const char*>(data), size);
    // A folder listing gives single names: no separator, no drive, no NUL.
    if (name.find_first_of(std::string("/\\:\0", 4)) != std::string::npos || name == "." || name == "..") return 0;
    const std::filesystem::path path = std::filesystem::path("/install/lib") / native(name);
    if (const auto side = kv::side_file_of(path)) {
        if (side->destination.parent_path() != path.parent_path()) __builtin_trap();
        if (side->destination.filename().empty()) __builtin_trap();
        if (side->kind == kv::SideFile::Kind::new_copy) {
            if (kv::new_copy_path(side->destination) != path) __builtin_trap();
        } else {
            const std::string stamp =
                kv::path_text(path.filename()).substr(kv::path_text(side->destination.filename()).size() + 8);
            const auto dash = stamp.find('-');
            if (plain_digits(stamp.substr(0, dash)) && plain_digits(stamp.substr(dash + 1)) &&
                side->unix_seconds != UINT64_MAX && side->pid != UINT32_MAX && kv::backup_path(side->destination, side->unix_seconds, side->pid) != path) {
                __builtin_trap();
            }
        }
    }
    // The names the replace itself forms for this file are always recognised.
    if (!name.empty()) {
        const std::filesystem::path destination = std::filesystem::path("/install") / native(name);
        const std::uint32_t pid = size > 3 ? static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16) : 7;
        const auto backup = kv::side_file_of(kv::backup_path(destination, 1765000000u + size, pid));
        if (!backup || backup->destination != destination || backup->pid != pid || backup->unix_seconds != 1765000000u + size) {
            __builtin_trap();
        }
        const auto fresh = kv::side_file_of(kv::new_copy_path(destination));
        if (!fresh || fresh->destination != destination) __builtin_trap();
    }
    return 0;
}
