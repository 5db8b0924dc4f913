#pragma once
// Which running process is the station client the service supervises.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

inline constexpr std::string_view client_file_name = "Kestrivon-Client.exe";

// Exactly the client's file name, ignoring ASCII letter case.
bool has_client_file_name(std::string_view executable_name);

// Drops a leading \\?\ and turns every / into \ (letter case is left to the caller).
std::string normalise_client_path(std::string_view path);

struct ClientCandidate {
    std::optional<std::string> image_key;   // the normalised, lower-cased image path, if read
    std::optional<std::uint32_t> session;   // the process's session, if read
};

// With the expected path unknown, any process of the client's name is the client; otherwise
// its image must be the expected file and it must run in the console session.
bool is_supervised_client(const ClientCandidate& candidate, const std::optional<std::string>& expected_key,
                          std::uint32_t console_session);

}  // namespace kv
