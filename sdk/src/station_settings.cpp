#include "station_settings.hpp"

#include <algorithm>

namespace kv::station {
namespace {

void take(const wchar_t* given, std::wstring& into) {
    if (given != nullptr && *given != L'\0') into = given;
}

void take(unsigned long given_ms, std::chrono::milliseconds& into) {
    if (given_ms != 0) into = std::chrono::milliseconds(given_ms);
}

}  // namespace

Settings settings_from(const kv_options* options) {
    Settings settings;
    if (options == nullptr) return settings;
    take(options->privileged_pipe, settings.privileged_pipe);
    take(options->watchdog_pipe, settings.watchdog_pipe);
    take(options->token_file, settings.token_file);
    take(options->busy_timeout_ms, settings.busy_timeout);
    take(options->reply_timeout_ms, settings.reply_timeout);
    take(options->watchdog_timeout_ms, settings.watchdog_timeout);
    take(options->heartbeat_interval_ms, settings.heartbeat_interval);
    settings.heartbeat_interval = std::clamp(settings.heartbeat_interval, shortest_heartbeat_interval, longest_heartbeat_interval);
    return settings;
}

}  // namespace kv::station
