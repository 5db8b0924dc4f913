#pragma once
// The caller's kv_options with every default filled in.
#include <chrono>
#include <string>

#include "kestrivon_station.h"

namespace kv::station {

inline constexpr wchar_t default_privileged_pipe[] = L"\\\\.\\pipe\\kestrivon-privileged";
inline constexpr wchar_t default_watchdog_pipe[] = L"\\\\.\\pipe\\kestrivon-watchdog";

struct Settings {
    std::wstring privileged_pipe = default_privileged_pipe;
    std::wstring watchdog_pipe = default_watchdog_pipe;
    std::wstring token_file;  // empty: the watchdog's own place, found when it is read
    std::chrono::milliseconds busy_timeout{5000};
    std::chrono::milliseconds reply_timeout{10000};
    std::chrono::milliseconds watchdog_timeout{10000};
    // The service warns after 90 s without a beat and ends the client after 120 s: a beat
    // every 15 s leaves room for several that fail while the service restarts.
    std::chrono::milliseconds heartbeat_interval{15000};
};

// Beats further apart than this leave too few tries before the service's 90 s warning.
inline constexpr std::chrono::milliseconds longest_heartbeat_interval{30000};
// Closer beats would only load the service.
inline constexpr std::chrono::milliseconds shortest_heartbeat_interval{100};

// NULL options, 0 and NULL fields take the defaults; the heartbeat interval is kept
// between the shortest and the longest.
Settings settings_from(const kv_options* options);

}  // namespace kv::station
