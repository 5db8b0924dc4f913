#pragma once
// After an installer: wait while the installer the service started still runs, then clear
// up and start the client afresh in the console session.
#include "result.hpp"
#include "update_environment.hpp"

namespace kv {

Status relaunch_after_installer(const UpdateEnvironment& environment);

// Deletes every private installer folder in the Windows Temp folder; errors ignored.
void clear_private_installer_folders();

}  // namespace kv
