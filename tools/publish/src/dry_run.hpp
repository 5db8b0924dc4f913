#pragma once
// A dry run of the service's apply check on what is staged in an updates folder: the same
// marker verdicts, settle and grace times, signature check, path rules and digests, without
// changing anything.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "local_files.hpp"
#include "marker_policy.hpp"
#include "signing_key.hpp"

namespace kv::publish {

// How the service would judge one marker file now.
struct MarkerLook {
    MarkerKind kind;
    bool present = false;
    MarkerVerdict verdict{MarkerVerdict::Outcome::valid, {}, {}};
    std::chrono::seconds age{0};  // valid markers: by their file time (and created_at)
    std::string describe() const;  // one line for the report
};

// Judged as by a service that has just started watching the file.
MarkerLook look_at_marker(const fs::path& updates, MarkerKind kind, std::chrono::system_clock::time_point now);

struct DryRunReport {
    std::vector<std::string> lines;  // what was looked at, in the service's order
    bool would_apply = false;
    std::string outcome;  // what the service would do, or the exact text it would record or log
};

struct DryRunInput {
    fs::path updates;
    SigningKey key;
    std::optional<fs::path> install;  // without it, the checks against the installed files are left out
    std::chrono::system_clock::time_point now;
};

DryRunReport dry_run_apply_check(const DryRunInput& input);

}  // namespace kv::publish
