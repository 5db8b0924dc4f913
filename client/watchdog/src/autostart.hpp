#pragma once
// The per-user Run value that starts a standalone watchdog at logon.
#include "watchdog_log.hpp"

namespace kv {

inline constexpr wchar_t run_key_path[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t autostart_value_name[] = L"Kestrivon-Watchdog";

// Points the Run value at the running executable unless it already does, exactly.
void register_autostart_entry(const WatchdogLog& log);

// Deletes the Run value; a missing value is reported like any other failure.
void remove_autostart_entry(const WatchdogLog& log);

}  // namespace kv
