#include "apply_check.hpp"

#include "installer_update.hpp"
#include "markers.hpp"
#include "relaunch.hpp"
#include "staged_update.hpp"

namespace kv {

Status run_apply_check(const UpdateEnvironment& environment) {
    if (Status safe = refuse_linked_update_folders(environment); !safe) return safe;
    if (check_marker(environment, MarkerKind::installer)) return run_installer_update(environment);
    if (check_marker(environment, MarkerKind::relaunch)) return relaunch_after_installer(environment);
    if (check_marker(environment, MarkerKind::update)) return run_staged_update(environment);
    return ok();
}

}  // namespace kv
