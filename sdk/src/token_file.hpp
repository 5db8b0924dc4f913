#pragma once
// The watchdog's session token, read from the file the watchdog writes at each start.
#include <filesystem>

#include "station_answer.hpp"
#include "station_settings.hpp"

namespace kv::station {

// The configured file, else data_root\watchdog.token as the watchdog derives it.
std::filesystem::path token_path(const Settings& settings);

// KV_OK with the 64 token characters, or KV_ERR_TOKEN with the file and the reason.
Answer read_token(const Settings& settings);

}  // namespace kv::station
