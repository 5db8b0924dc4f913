#include "interrupted_replace.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <string>

namespace kv {
namespace {

using NativeView = std::basic_string_view<std::filesystem::path::value_type>;

// A non-empty run of decimal digits, saturated at the type's maximum.
template <class Number>
std::optional<Number> digits_value(NativeView text) {
    if (text.empty()) return std::nullopt;
    Number value = 0;
    for (const auto c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const Number digit = static_cast<Number>(c - '0');
        value = value > (std::numeric_limits<Number>::max() - digit) / 10 ? std::numeric_limits<Number>::max()
                                                                          : static_cast<Number>(value * 10 + digit);
    }
    return value;
}

std::filesystem::path sibling(const std::filesystem::path& path, NativeView name) {
    // Keeps the separator the side file's path was written with.
    return std::filesystem::path(path).replace_filename(std::filesystem::path::string_type(name));
}

std::filesystem::path::string_type native_ascii(std::string_view text) {
    return std::filesystem::path::string_type(text.begin(), text.end());
}

std::optional<SideFile> backup_of(const std::filesystem::path& path, NativeView name) {
    const auto marker = native_ascii(".kv-old-");
    const auto at = name.rfind(marker);
    if (at == NativeView::npos || at == 0) return std::nullopt;
    const NativeView stamp = name.substr(at + marker.size());
    const auto dash = stamp.find(static_cast<std::filesystem::path::value_type>('-'));
    if (dash == NativeView::npos) return std::nullopt;
    const auto seconds = digits_value<std::uint64_t>(stamp.substr(0, dash));
    const auto pid = digits_value<std::uint32_t>(stamp.substr(dash + 1));
    if (!seconds || !pid) return std::nullopt;
    return SideFile{SideFile::Kind::backup, path, sibling(path, name.substr(0, at)), *seconds, *pid};
}

}  // namespace

std::optional<SideFile> side_file_of(const std::filesystem::path& path) {
    const std::filesystem::path::string_type file_name = path.filename().native();
    const NativeView name = file_name;
    const auto new_suffix = native_ascii(".kv-new");
    if (name.ends_with(new_suffix)) {
        if (name.size() == new_suffix.size()) return std::nullopt;
        return SideFile{SideFile::Kind::new_copy, path, sibling(path, name.substr(0, name.size() - new_suffix.size()))};
    }
    return backup_of(path, name);
}

void repair_interrupted_replace(const std::vector<std::filesystem::path>& side_files, ReplaceFileSystem& files,
                                const LogSink& log) {
    std::map<std::filesystem::path, std::vector<SideFile>> by_destination;
    for (const auto& path : side_files) {
        if (auto side = side_file_of(path)) by_destination[side->destination].push_back(std::move(*side));
    }
    const auto removed = [&](const SideFile& side, const char* what) {
        if (Status gone = files.remove(side.path); !gone) {
            log("interrupted replace repair failed for " + path_text(side.path) + ": " + gone.error());
        } else {
            log(std::string("interrupted replace repaired: removed ") + what + " " + path_text(side.path));
        }
    };
    for (auto& [destination, sides] : by_destination) {
        // Newest backup first: it holds what the destination had just before the last replace.
        std::sort(sides.begin(), sides.end(), [](const SideFile& a, const SideFile& b) {
            if (a.kind != b.kind) return a.kind == SideFile::Kind::new_copy;
            if (a.unix_seconds != b.unix_seconds) return a.unix_seconds > b.unix_seconds;
            if (a.pid != b.pid) return a.pid > b.pid;
            return a.path > b.path;
        });
        for (const SideFile& side : sides) {
            if (side.kind == SideFile::Kind::new_copy) {
                removed(side, "new copy");
            } else if (files.exists(destination)) {
                removed(side, "backup");
            } else if (Status restored = files.rename(side.path, destination, false); !restored) {
                log("interrupted replace repair failed for " + path_text(side.path) + ": " + restored.error());
            } else {
                log("interrupted replace repaired: restored " + path_text(destination) + " from " + path_text(side.path));
            }
        }
    }
}

}  // namespace kv
