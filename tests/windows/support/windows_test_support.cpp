#include "windows_test_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "command_line.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv::testing {
namespace {

std::string drain(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    return text;
}

}  // namespace

std::filesystem::path build_path(const char* linux_path) {
    std::wstring path = L"Z:" + widen(linux_path);
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

std::filesystem::path program_dir() { return build_path(KV_PROGRAM_DIR); }
std::filesystem::path doubles_dir() { return build_path(KV_DOUBLES_DIR); }
std::filesystem::path update_fixtures_dir() { return build_path(KV_UPDATE_FIXTURES_DIR); }

void set_file_age(const std::filesystem::path& path, std::chrono::milliseconds age) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(file) << narrow(path.wstring());
    const FILETIME when = to_file_time(std::chrono::system_clock::now() - age);
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &when));
}

void copy_tree(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::create_directories(to);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(from)) {
        const auto target = to / std::filesystem::relative(entry.path(), from);
        if (entry.is_directory()) {
            std::filesystem::create_directories(target);
        } else {
            ASSERT_TRUE(CopyFileW(entry.path().c_str(), target.c_str(), FALSE)) << narrow(target.wstring());
        }
    }
}

std::filesystem::path scratch_dir(const std::string& name) {
    const auto folder = build_path(KV_SCRATCH_DIR) / widen(name);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    return folder;
}

Captured run_captured(const std::filesystem::path& program, const std::vector<std::wstring>& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueFileHandle out_read, out_write, err_read, err_write;
    if (!CreatePipe(out_read.put(), out_write.put(), &inheritable, 0) ||
        !CreatePipe(err_read.put(), err_write.put(), &inheritable, 0)) {
        ADD_FAILURE() << "CreatePipe failed";
        return {};
    }
    SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);
    std::wstring line = windows_command_line(program.wstring(), arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_write.get();
    startup.hStdError = err_write.get();
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &created)) {
        ADD_FAILURE() << "cannot start " << narrow(program.wstring()) << ": " << GetLastError();
        return {};
    }
    const UniqueHandle process(created.hProcess);
    const UniqueHandle thread(created.hThread);
    out_write.reset();
    err_write.reset();
    Captured captured;
    std::thread err_reader([&] { captured.err = drain(err_read.get()); });
    captured.out = drain(out_read.get());
    err_reader.join();
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &captured.exit_code);
    return captured;
}

std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::size_t count_occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const std::optional<std::wstring>& value) : name_(name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    if (length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND) previous_ = std::wstring(buffer, length);
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr); }

std::filesystem::path service_log_path() {
    return std::filesystem::path(L"C:\\users\\Public") / L"Kestrivon" / L"Client" / L"logs" / L"updater-service.log";
}

void install_system_tool_double(const wchar_t* double_file, const wchar_t* tool_file) {
    const auto target = system_directory() / tool_file;
    ASSERT_TRUE(CopyFileW((doubles_dir() / double_file).c_str(), target.c_str(), FALSE))
        << "copy to " << narrow(target.wstring()) << " failed: " << GetLastError();
    prefer_tool_double(tool_file, true);
}

void prefer_tool_double(const wchar_t* tool_file, bool use_double) {
    UniqueRegistryKey overrides;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, overrides.put(), nullptr),
              ERROR_SUCCESS);
    const std::wstring load_order = use_double ? L"native" : L"builtin";
    ASSERT_EQ(RegSetValueExW(overrides.get(), tool_file, 0, REG_SZ, reinterpret_cast<const BYTE*>(load_order.c_str()),
                             static_cast<DWORD>((load_order.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void install_tasklist_double() { install_system_tool_double(L"tasklist-double.exe", L"tasklist.exe"); }

void end_process(DWORD pid) {
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), 5000);
}

}  // namespace kv::testing
