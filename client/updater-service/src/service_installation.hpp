#pragma once
// Registering the program as the KestrivonClientUpdater service and removing it, through
// sc.exe, watching the outcome with the service manager's status query.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "log_sink.hpp"
#include "result.hpp"

namespace kv {

inline constexpr wchar_t service_name[] = L"KestrivonClientUpdater";
inline constexpr std::uint32_t service_state_stopped = 1;
inline constexpr std::uint32_t service_state_running = 4;

struct ServiceNotInstalled {};
struct ServiceStatus {
    std::uint32_t state = 0;
    std::optional<std::uint32_t> pid;  // only when the service manager reports one
};
using ServiceQuery = std::variant<ServiceNotInstalled, ServiceStatus>;

Result<ServiceQuery> query_service();

// True once the service is stopped or gone before `limit` has passed.
bool wait_until_stopped(std::chrono::seconds limit);

// The image path registered for the service: the executable in quotes, then the verb.
std::wstring service_image_path(const std::wstring& executable);

Status install_service(const LogSink& log);
Status uninstall_service(const LogSink& log);

}  // namespace kv
