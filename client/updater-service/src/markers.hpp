#pragma once
// The marker files that announce work for the update engine.
#include <cstdint>
#include <string>
#include <string_view>

#include "log_sink.hpp"
#include "marker_policy.hpp"
#include "result.hpp"
#include "update_environment.hpp"

namespace kv {

// True when the marker exists, is valid and has not expired. Deletes (and logs) a marker
// that is malformed, dated too far ahead or too old.
bool check_marker(const UpdateEnvironment& environment, MarkerKind kind);

// Update, then installer, then relaunch; stops at the first that passes.
bool any_update_pending(const UpdateEnvironment& environment);

// Publishes pending-relaunch.json through a temporary file and a rename.
Status write_relaunch_marker(const UpdateEnvironment& environment, std::string_view version, std::uint32_t installer_pid,
                             std::uint64_t installer_start_time, std::string_view installer_image);

}  // namespace kv
