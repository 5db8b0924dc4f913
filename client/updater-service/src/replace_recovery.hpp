#pragma once
// Repairs what an interrupted replace left in the install folder. Cheap enough to run at
// service start, at the start of "apply-once" and before every replace phase, never more.
#include <filesystem>

#include "log_sink.hpp"
#include "update_environment.hpp"

namespace kv {

// Walks `install` without following links and repairs its side files, one log line each.
void recover_interrupted_replace(const std::filesystem::path& install, const LogSink& log);

// The same for the environment's install folder; nothing happens when it cannot be resolved
// (the apply check reports that itself).
void recover_interrupted_replace(const UpdateEnvironment& environment);

}  // namespace kv
