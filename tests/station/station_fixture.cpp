#include "station_fixture.hpp"

#include <tlhelp32.h>

#include <cstdio>
#include <regex>

#include "file_io.hpp"
#include "process_utilities.hpp"
#include "sha256.hpp"
#include "unicode_case.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv::testing {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t service_name[] = L"KestrivonClientUpdater";

std::string folded(std::string text) {
    if (text.starts_with("\\\\?\\")) text.erase(0, 4);
    return unicode_lower(text);
}

UniqueServiceHandle open_service(DWORD access) {
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return UniqueServiceHandle();
    return UniqueServiceHandle(OpenServiceW(manager.get(), service_name, access));
}

void delete_user_value(const wchar_t* key, const wchar_t* value) {
    UniqueRegistryKey opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, opened.put()) == ERROR_SUCCESS) RegDeleteValueW(opened.get(), value);
}

void remove_children(const fs::path& folder) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) fs::remove_all(entry.path(), ignored);
}

}  // namespace

std::optional<DWORD> user_dword(const wchar_t* key, const wchar_t* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS) return std::nullopt;
    return data;
}

bool user_value_exists(const wchar_t* key, const wchar_t* value) {
    return RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string file_sha256(const fs::path& path) { return sha256_hex(read_file(path).value_or("")); }

void StationTest::SetUp() {
    install_tasklist_double();  // Wine's own prints nothing; the installer branch asks it what still runs
    station = scratch_dir(std::string("station-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    for (const wchar_t* program : {L"Kestrivon-Client-Updater.exe", L"Kestrivon-Watchdog.exe"}) {
        ASSERT_TRUE(CopyFileW((program_dir() / program).c_str(), (station / program).c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileW((doubles_dir() / L"client" / L"Kestrivon-Client.exe").c_str(), (station / L"Kestrivon-Client.exe").c_str(), FALSE));
    data_root = service_log_path().parent_path().parent_path();
    ASSERT_FALSE(service_status()) << "a service of an earlier run is still installed";
    fs::create_directories(updates());
    remove_children(updates());
    log_offset_ = read_file(service_log_path()).value_or("").size();
    // An autostart entry as a standalone installation leaves it: the service-launched watchdog removes it.
    UniqueRegistryKey run;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, run_key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, run.put(), nullptr), ERROR_SUCCESS);
    const std::wstring command = L"\"" + (station / L"Kestrivon-Watchdog.exe").wstring() + L"\"";
    ASSERT_EQ(RegSetValueExW(run.get(), autostart_value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

void StationTest::TearDown() {
    // A service process that ended on its own must run again before it can be stopped.
    if (service_process_ended()) start_service();
    if (service_status()) {
        const Captured removed = run_captured(station / L"Kestrivon-Client-Updater.exe", {L"uninstall"});
        EXPECT_EQ(removed.exit_code, 0u) << removed.err;
    }
    // The watchdogs first, so no monitor restarts a client meanwhile.
    for (const wchar_t* program : {L"Kestrivon-Watchdog.exe", L"Kestrivon-Client.exe", L"Kestrivon-Client-Updater.exe"}) {
        for (const DWORD pid : running(program)) end_process(pid);
    }
    EXPECT_TRUE(wait_until([&] { return station_processes().empty(); }, 10s)) << "processes of the station outlived it";
    EXPECT_FALSE(service_status()) << "the service outlived the scenario";
    delete_user_value(task_manager_policy_key, task_manager_policy_value);
    delete_user_value(run_key_path, autostart_value_name);
    remove_children(updates());
    if (HasFailure()) {
        std::printf("--- service log of this scenario\n%s--- client stand-in log\n%s", service_log().c_str(), client_log().c_str());
    }
}

void StationTest::write_client_script(const std::string& text) {
    ASSERT_TRUE(write_whole_file(station / L"client-double.script", text));
}

void StationTest::install_station(const std::string& client_script) {
    write_client_script(client_script);
    const Captured installed = run_captured(station / L"Kestrivon-Client-Updater.exe", {L"install"});
    ASSERT_EQ(installed.exit_code, 0u) << installed.out << installed.err;
    const auto status = service_status();
    ASSERT_TRUE(status);
    ASSERT_EQ(status->dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

void StationTest::release_client_step(const std::string& name) {
    ASSERT_TRUE(write_whole_file(station / widen(name), ""));
    ASSERT_TRUE(wait_until([&] { return client_log_count(" awaited " + name + "\n") > 0; }, 10s)) << client_log();
}

std::string StationTest::service_log() const {
    const std::string text = read_file(service_log_path()).value_or("");
    return text.size() >= log_offset_ ? text.substr(log_offset_) : text;
}

std::vector<LogMatch> StationTest::service_lines(const std::string& pattern) const {
    const std::regex wanted(pattern);
    static const std::regex stamped(R"(\[(\d+)\] (.*))");
    std::vector<LogMatch> found;
    const std::string text = service_log();
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        std::smatch parts;
        if (!std::regex_match(line, parts, stamped)) continue;
        const std::string message = parts[2];
        std::smatch groups;
        if (!std::regex_match(message, groups, wanted)) continue;
        LogMatch match;
        match.stamp = std::stoll(parts[1]);
        for (const auto& group : groups) match.groups.push_back(group.str());
        found.push_back(std::move(match));
    }
    return found;
}

std::optional<LogMatch> StationTest::wait_for_service_line(const std::string& pattern, std::chrono::milliseconds limit,
                                                           std::size_t occurrence) const {
    std::optional<LogMatch> found;
    wait_until([&] {
        auto lines = service_lines(pattern);
        if (lines.size() < occurrence) return false;
        found = std::move(lines[occurrence - 1]);
        return true;
    }, limit);
    return found;
}

std::string StationTest::client_log() const { return read_file(station / L"client-double.log").value_or(""); }

std::size_t StationTest::client_log_count(const std::string& part) const { return count_occurrences(client_log(), part); }

std::vector<std::pair<DWORD, std::wstring>> StationTest::station_processes() const {
    std::vector<std::pair<DWORD, std::wstring>> found;
    const std::string folder = folded(narrow(station.wstring()) + "\\");
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !Process32FirstW(snapshot.get(), &entry)) return found;
    do {
        const auto image = process_image_path(entry.th32ProcessID);
        if (image && folded(*image).starts_with(folder)) found.emplace_back(entry.th32ProcessID, entry.szExeFile);
    } while (Process32NextW(snapshot.get(), &entry));
    return found;
}

std::vector<DWORD> StationTest::running(const wchar_t* file_name) const {
    std::vector<DWORD> pids;
    for (const auto& [pid, name] : station_processes()) {
        if (_wcsicmp(name.c_str(), file_name) == 0) pids.push_back(pid);
    }
    return pids;
}

std::optional<SERVICE_STATUS_PROCESS> StationTest::service_status() const {
    const UniqueServiceHandle service = open_service(SERVICE_QUERY_STATUS);
    if (!service) return std::nullopt;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
        return std::nullopt;
    }
    return status;
}

bool StationTest::start_service() const {
    // Wine's manager may still show a service whose process has ended as running; it starts
    // it all the same, and the new run shows under a new process id.
    const auto before = service_status();
    const DWORD previous_pid = before ? before->dwProcessId : 0;
    const UniqueServiceHandle service = open_service(SERVICE_START);
    return service && StartServiceW(service.get(), 0, nullptr) && wait_until([&] {
               const auto now = service_status();
               return now && now->dwCurrentState == SERVICE_RUNNING && now->dwProcessId != 0 && now->dwProcessId != previous_pid;
           }, 30s);
}

bool StationTest::service_process_ended() const {
    const auto status = service_status();
    if (!status || status->dwProcessId == 0) return false;
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, status->dwProcessId));
    return !process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0;
}

bool StationTest::stop_service() const {
    const UniqueServiceHandle service = open_service(SERVICE_STOP);
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), SERVICE_CONTROL_STOP, &status) &&
           wait_until([&] {
               const auto now = service_status();
               return now && now->dwCurrentState == SERVICE_STOPPED;
           }, 30s);
}

}  // namespace kv::testing
