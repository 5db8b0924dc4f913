#pragma once
// Runs the real watchdog from a scratch folder with the client stand-in beside it, its
// ProgramData below the build tree and its output captured in files the test reads.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "autostart.hpp"
#include "command_line.hpp"
#include "kiosk_controls.hpp"
#include "shutdown_guard.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv::testing {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct RunningWatchdog {
    UniqueHandle process;
    UniqueHandle main_thread;  // runs the message loop
    DWORD pid = 0;
    fs::path out_file;
    fs::path err_file;

    std::string out() const { return read_file(out_file).value_or(""); }
    std::string err() const { return read_file(err_file).value_or(""); }
    bool says(const std::string& line, std::chrono::milliseconds limit = 10s) const {
        return wait_until([&] { return out().find("[watchdog] " + line + "\n") != std::string::npos; }, limit);
    }
    bool complains(const std::string& line, std::chrono::milliseconds limit = 10s) const {
        return wait_until([&] { return err().find("[watchdog] " + line + "\n") != std::string::npos; }, limit);
    }
    bool running() const { return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }

    // Its shutdown blocker, found the way Windows' broadcast would: a top-level window of the
    // class. Wine's FindWindow also finds message-only windows, hence the parent check.
    HWND blocker() const {
        for (HWND window = FindWindowExW(nullptr, nullptr, blocker_window_class, nullptr); window != nullptr;
             window = FindWindowExW(nullptr, window, blocker_window_class, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == pid && GetAncestor(window, GA_PARENT) == GetDesktopWindow()) return window;
        }
        return nullptr;
    }
    // What the window procedure answers, as Windows would send it.
    LRESULT send_to_blocker(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) const {
        DWORD_PTR answer = 99;
        EXPECT_TRUE(SendMessageTimeoutW(blocker(), message, wparam, lparam, SMTO_BLOCK, 5000, &answer));
        return static_cast<LRESULT>(answer);
    }
    std::optional<DWORD> exit_code(std::chrono::milliseconds limit = 10s) const {
        if (WaitForSingleObject(process.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        return code;
    }
};

class WatchdogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch_dir(std::string("watchdog-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(CopyFileW((program_dir() / L"Kestrivon-Watchdog.exe").c_str(), watchdog_exe().c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((build_path(KV_WATCHDOG_PEER_DIR) / L"Kestrivon-Client.exe").c_str(), client_exe().c_str(), FALSE));
        program_data = std::make_unique<ScopedEnvironment>(L"ProgramData", (folder / L"programdata").wstring());
        fs::create_directories(updates());
    }

    void TearDown() override {
        for (const auto& watchdog : watchdogs) {
            if (watchdog->running()) end_process(watchdog->pid);
        }
        for (const DWORD pid : started_clients()) end_process(pid);
        // Leave the prefix's user hive as the tests found it.
        UniqueRegistryKey run;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, run_key_path, 0, KEY_SET_VALUE, run.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(run.get(), autostart_value_name);
        }
        set_task_manager_policy_absent();
    }

    fs::path watchdog_exe() const { return folder / L"Kestrivon-Watchdog.exe"; }
    fs::path client_exe() const { return folder / L"Kestrivon-Client.exe"; }
    fs::path data_root() const { return folder / L"programdata" / L"Kestrivon" / L"Client"; }
    fs::path updates() const { return data_root() / L"updates"; }
    fs::path token_file() const { return data_root() / L"watchdog.token"; }

    // Starts the watchdog with the given arguments; inheritable handles of this process reach it.
    RunningWatchdog& start(const std::vector<std::wstring>& arguments = {}, const fs::path& executable = {}) {
        const fs::path program = executable.empty() ? watchdog_exe() : executable;
        auto watchdog = std::make_unique<RunningWatchdog>();
        const auto index = std::to_wstring(watchdogs.size());
        watchdog->out_file = folder / (L"watchdog-" + index + L".out");
        watchdog->err_file = folder / (L"watchdog-" + index + L".err");
        SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
        const UniqueFileHandle out(CreateFileW(watchdog->out_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const UniqueFileHandle err(CreateFileW(watchdog->err_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(out && err);
        std::wstring line = windows_command_line(program.wstring(), arguments);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = err.get();
        PROCESS_INFORMATION created{};
        EXPECT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &created))
            << GetLastError();
        watchdog->process.reset(created.hProcess);
        watchdog->main_thread.reset(created.hThread);
        watchdog->pid = created.dwProcessId;
        watchdogs.push_back(std::move(watchdog));
        return *watchdogs.back();
    }

    // Runs the client stand-in with a script; returns what it printed.
    std::string run_peer(const std::vector<std::wstring>& script) {
        const Captured captured = run_captured(client_exe(), script);
        return captured.out;
    }

    std::vector<DWORD> started_clients() const {
        std::vector<DWORD> pids;
        const std::string log = read_file(folder / L"watchdog-peer.log").value_or("");
        const std::regex started(R"(started pid=(\d+))");
        for (auto it = std::sregex_iterator(log.begin(), log.end(), started); it != std::sregex_iterator(); ++it) {
            pids.push_back(static_cast<DWORD>(std::stoul((*it)[1])));
        }
        return pids;
    }

    static std::optional<DWORD> task_manager_policy() {
        DWORD value = 0, size = sizeof(value), type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, task_manager_policy_key, task_manager_policy_value, RRF_RT_ANY, &type, &value, &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        return value;
    }
    static void set_task_manager_policy_absent() {
        UniqueRegistryKey policy;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, task_manager_policy_key, 0, KEY_SET_VALUE, policy.put()) == ERROR_SUCCESS) {
            RegDeleteValueW(policy.get(), task_manager_policy_value);
        }
    }
    static std::optional<std::wstring> run_value() {
        wchar_t buffer[2048];
        DWORD size = sizeof(buffer);
        if (RegGetValueW(HKEY_CURRENT_USER, run_key_path, autostart_value_name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return std::wstring(buffer);
    }

    fs::path folder;
    std::unique_ptr<ScopedEnvironment> program_data;
    std::vector<std::unique_ptr<RunningWatchdog>> watchdogs;
};

}  // namespace kv::testing
