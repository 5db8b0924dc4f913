#include "client_identity.hpp"

#include "text.hpp"

namespace kv {

bool has_client_file_name(std::string_view executable_name) {
    return executable_name.size() == client_file_name.size() && equals_ignoring_ascii_case(executable_name, client_file_name);
}

std::string normalise_client_path(std::string_view path) {
    if (path.starts_with("\\\\?\\")) path.remove_prefix(4);
    std::string out(path);
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

bool is_supervised_client(const ClientCandidate& candidate, const std::optional<std::string>& expected_key,
                          std::uint32_t console_session) {
    if (!expected_key) return true;
    return candidate.image_key && candidate.session && *candidate.session == console_session &&
           *candidate.image_key == *expected_key;
}

}  // namespace kv
