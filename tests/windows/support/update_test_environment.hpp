#pragma once
// An update engine environment for tests: real folders, log lines kept in lists, a clock the
// test moves, and a flag instead of ending the process.
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "canonical_path.hpp"
#include "update_environment.hpp"
#include "../../support/fake_clock.hpp"

namespace kv::testing {

class RecordedUpdateEnvironment {
public:
    RecordedUpdateEnvironment(std::filesystem::path updates, std::filesystem::path install) : install_(std::move(install)) {
        environment.updates = std::move(updates);
        environment.install_dir = [this] { return canonicalize_path(install_); };
        environment.log = [this](std::string_view line) { logged.emplace_back(line); };
        environment.record = [this](std::string_view line) {
            recorded.emplace_back(line);
            logged.emplace_back(line);
        };
        environment.end_process = [this] { ended = true; };
        environment.clock = &clock;
        environment.first_seen = &first_seen;
    }
    RecordedUpdateEnvironment(const RecordedUpdateEnvironment&) = delete;
    RecordedUpdateEnvironment& operator=(const RecordedUpdateEnvironment&) = delete;

    bool logged_matching(const std::string& pattern) const {
        for (const auto& line : logged) {
            if (std::regex_match(line, std::regex(pattern))) return true;
        }
        return false;
    }

    std::vector<std::string> logged;
    std::vector<std::string> recorded;
    bool ended = false;
    FakeClock clock;
    MarkerFirstSeen first_seen;
    UpdateEnvironment environment;

private:
    std::filesystem::path install_;
};

}  // namespace kv::testing
