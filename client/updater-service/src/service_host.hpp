#pragma once
// Running as the KestrivonClientUpdater service under the service manager.

namespace kv {

// Hands the process to the service dispatcher. Returns the process exit code: 0 when the
// dispatcher returns normally, 1 (after printing why) when it cannot start, as from a console.
int run_service_dispatcher();

}  // namespace kv
