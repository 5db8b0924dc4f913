#pragma once
#include "result.hpp"
#include "update_environment.hpp"

namespace kv {

// The update engine's entry point: at most one branch per call, installer first, then the
// relaunch after an installer, then a staged update. Waiting is success.
Status run_apply_check(const UpdateEnvironment& environment);

}  // namespace kv
