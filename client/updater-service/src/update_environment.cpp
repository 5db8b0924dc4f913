#include "update_environment.hpp"

#include <windows.h>

#include "data_paths.hpp"
#include "link_safe_files.hpp"
#include "service_log.hpp"

namespace kv {

Status refuse_linked_update_folders(const UpdateEnvironment& environment) {
    const std::filesystem::path& updates = environment.updates;
    return refuse_linked_folders({updates.parent_path().parent_path(), updates.parent_path(), updates});
}

UpdateEnvironment service_update_environment() {
    static SteadyClock clock;
    static MarkerFirstSeen first_seen;
    UpdateEnvironment environment;
    environment.updates = updates_dir();
    environment.install_dir = [] { return install_dir(); };
    environment.log = service_log;
    environment.record = record_last_error;
    // The service manager sees an unexpected end and restarts the service by its recovery
    // actions; the restarted service then relaunches the client after the installer. The
    // system ends the other threads first, so none of them runs on during static teardown.
    environment.end_process = [] { ExitProcess(0); };
    environment.clock = &clock;
    environment.first_seen = &first_seen;
    return environment;
}

}  // namespace kv
