#pragma once
// Making the session token and leaving it where the client can read it.
#include <filesystem>
#include <string>

#include "watchdog_log.hpp"

namespace kv {

// 32 bytes from the system generator, or the SHA-256 fallback when it fails.
std::string generate_session_token(const WatchdogLog& log);

// data_root\watchdog.token
std::filesystem::path session_token_path();

// Replaces the file with exactly the token, no line end. A failure is logged; the token
// stays valid for this run.
void write_session_token_file(const std::string& token, const WatchdogLog& log);

}  // namespace kv
