#include "single_instance.hpp"

#include <windows.h>

#include "process_scan.hpp"
#include "win_error.hpp"

namespace kv {

SingleInstance claim_single_instance(bool service_launched, const WatchdogLog& log) {
    SingleInstance claim;
    claim.mutex.reset(CreateMutexW(nullptr, FALSE, singleton_mutex_name));
    if (!claim.mutex) {
        log(LogStream::err, "CreateMutexW failed (" + last_error_text() + "); continuing without singleton guard");
        return claim;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return claim;
    if (!service_launched) {
        if (const auto executable = running_executable_path(); executable && find_other_instance(*executable)) {
            log(LogStream::out, "Another watchdog instance is already running — exiting");
            claim.mutex.reset();
            claim.yield = true;
            return claim;
        }
    }
    log(LogStream::err, "Singleton name is held by a process that is not a watchdog; continuing");
    return claim;
}

}  // namespace kv
