#pragma once
// A whole station under Wine: the real service installed with "install" from a fresh folder
// that also holds the real watchdog and the station client stand-in. Each scenario starts
// from nothing and leaves nothing behind: no service, no process from its folder, no update
// files, no kiosk policy.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "autostart.hpp"       // run_key_path, autostart_value_name
#include "kiosk_controls.hpp"  // task_manager_policy_key, task_manager_policy_value

namespace kv::testing {

namespace fs = std::filesystem;

struct LogMatch {
    long long stamp = 0;             // the line's Unix time
    std::vector<std::string> groups;  // [0] the whole message, then the pattern's groups
};

class StationTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Installs the service; the client stand-in follows `client_script`.
    void install_station(const std::string& client_script);
    void write_client_script(const std::string& text);
    // Lets the stand-in pass its "await NAME" step.
    void release_client_step(const std::string& name);

    // The service log's lines of this scenario that match `pattern` (whole message, after the stamp).
    std::vector<LogMatch> service_lines(const std::string& pattern) const;
    std::optional<LogMatch> wait_for_service_line(const std::string& pattern, std::chrono::milliseconds limit,
                                                  std::size_t occurrence = 1) const;
    std::string service_log() const;
    std::string client_log() const;
    std::size_t client_log_count(const std::string& part) const;

    // Processes whose image lies in the station folder, with that image's file name.
    std::vector<std::pair<DWORD, std::wstring>> station_processes() const;
    std::vector<DWORD> running(const wchar_t* file_name) const;

    // The service manager's view of the installed service.
    std::optional<SERVICE_STATUS_PROCESS> service_status() const;
    bool start_service() const;
    bool stop_service() const;
    // The manager still names a process for the service, but that process has ended.
    bool service_process_ended() const;

    fs::path station;  // install_dir of the installed service
    fs::path data_root;  // the service's %ProgramData%\Kestrivon\Client
    fs::path updates() const { return data_root / L"updates"; }

private:
    std::size_t log_offset_ = 0;
    bool installed_ = false;
};

// Reads a DWORD of the current user's hive; nothing when it is absent.
std::optional<DWORD> user_dword(const wchar_t* key, const wchar_t* value);
bool user_value_exists(const wchar_t* key, const wchar_t* value);

std::string file_sha256(const fs::path& path);

}  // namespace kv::testing
