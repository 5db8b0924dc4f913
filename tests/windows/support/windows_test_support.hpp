#pragma once
// Helpers for the tests that run under Wine.
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::testing {

// A folder of the build tree as Wine sees it (the Linux root is drive Z:).
std::filesystem::path build_path(const char* linux_path);

std::filesystem::path program_dir();   // the shipped programs
std::filesystem::path doubles_dir();   // test doubles
std::filesystem::path update_fixtures_dir();  // signed update fixtures
// A fresh, empty folder below the build tree for one test.
std::filesystem::path scratch_dir(const std::string& name);

struct Captured {
    DWORD exit_code = 0;
    std::string out;
    std::string err;
};

// Runs a program with separate arguments and waits for it, capturing both outputs.
Captured run_captured(const std::filesystem::path& program, const std::vector<std::wstring>& arguments);

std::optional<std::string> read_file(const std::filesystem::path& path);

// How often `part` stands in `text` (a log, say).
std::size_t count_occurrences(const std::string& text, const std::string& part);

// Polls `condition` every 100 ms until it holds or `limit` has passed.
bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Sets or unsets one environment variable of this process for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::optional<std::wstring>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// Wine gives LocalSystem services a ProgramData of C:\users\Public, unlike user programs;
// the service's own log is wherever its ProgramData points.
std::filesystem::path service_log_path();

// Copies a stand-in over a tool of the system folder and makes Wine run it instead of its
// built-in one (Wine's tasklist.exe prints nothing; its sc.exe lacks "config").
void install_system_tool_double(const wchar_t* double_file, const wchar_t* tool_file);

// Switches between the stand-in (true) and Wine's built-in tool (false).
void prefer_tool_double(const wchar_t* tool_file, bool use_double);

void install_tasklist_double();

// Sets a file's last-write time to `age` before now (negative: in the future).
void set_file_age(const std::filesystem::path& path, std::chrono::milliseconds age);

// Copies a folder tree.
void copy_tree(const std::filesystem::path& from, const std::filesystem::path& to);

// Ends a process this test started, by id.
void end_process(DWORD pid);

}  // namespace kv::testing
