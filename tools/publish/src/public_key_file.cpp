#include "public_key_file.hpp"

#include "minisign.hpp"
#include "update_decisions.hpp"

namespace kv::publish {

Result<std::string> public_key_line(std::string_view file_text) {
    const auto refused = [] { return fail("not a minisign public key (the second line of minisign -G's .pub file)"); };
    std::string key;
    while (!file_text.empty()) {
        const std::size_t end = file_text.find('\n');
        const std::string_view line = trim_white_space(file_text.substr(0, end));
        file_text = end == std::string_view::npos ? std::string_view() : file_text.substr(end + 1);
        if (line.empty() || (key.empty() && line.starts_with("untrusted comment:"))) continue;
        if (!key.empty()) return refused();
        key = std::string(line);
    }
    if (key.empty() || !decode_minisign_public_key(key)) return refused();
    return key;
}

}  // namespace kv::publish
