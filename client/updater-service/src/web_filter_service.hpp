#pragma once
// "WEBFILTER ensure": the KestrivonWebFilter service installed from the updater's folder and
// running; started when merely stopped, installed by its own program otherwise.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

// Runs a program without a console window; its exit code, or "did not finish in {} s".
using CommandRunner = std::function<Result<std::int32_t>(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                                         std::chrono::seconds timeout)>;

Result<std::int32_t> run_command_with_timeout(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                              std::chrono::seconds timeout);

// Returns "running", "pending", "started" or "installed", or the error.
Result<std::string> ensure_web_filter(const std::filesystem::path& service_folder, const CommandRunner& run);

// The job thread's body: ensure from the service's own folder, then log the outcome.
void run_web_filter_job(const LogSink& log);

}  // namespace kv
