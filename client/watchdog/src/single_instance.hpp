#pragma once
// One standalone watchdog per Windows session.
#include "unique_resource.hpp"
#include "watchdog_log.hpp"

namespace kv {

inline constexpr wchar_t singleton_mutex_name[] = L"Local\\Kestrivon-Watchdog-Singleton";

struct SingleInstance {
    UniqueHandle mutex;  // kept open for the life of the process
    bool yield = false;  // another standalone watchdog of this session runs the same executable
};

// A service-launched watchdog never yields: the service decides which watchdog runs.
SingleInstance claim_single_instance(bool service_launched, const WatchdogLog& log);

}  // namespace kv
