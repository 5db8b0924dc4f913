// Launching into the console session with Wine's real token and process calls. The launch
// itself needs the privileges of LocalSystem, so it runs inside a probe service.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>

#include "session_launcher.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

// Installs the probe service, lets it launch `program` once and returns what it wrote.
std::string launch_from_service(const std::filesystem::path& program) {
    const auto folder = testing::scratch_dir("launch-probe");
    const auto result = folder / L"result.txt";
    const std::wstring image_path = L"\"" + (testing::doubles_dir() / L"launch-probe.exe").wstring() + L"\" \"" +
                                    program.wstring() + L"\" \"" + result.wstring() + L"\"";
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    EXPECT_TRUE(manager);
    UniqueServiceHandle service(CreateServiceW(manager.get(), L"KestrivonLaunchProbe", L"Kestrivon launch probe",
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, image_path.c_str(), nullptr, nullptr, nullptr,
                                               nullptr, nullptr));
    if (!service) service.reset(OpenServiceW(manager.get(), L"KestrivonLaunchProbe", SERVICE_ALL_ACCESS));
    EXPECT_TRUE(service) << GetLastError();
    EXPECT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     image_path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(StartServiceW(service.get(), 0, nullptr)) << GetLastError();
    testing::wait_until([&] { return testing::read_file(result).has_value(); }, 20s);
    DeleteService(service.get());
    return testing::read_file(result).value_or("no result");
}

TEST(EnablePrivilege, NamesTheStepThatFailed) {
    const Status unknown = enable_privilege("SeNoSuchPrivilege");
    ASSERT_FALSE(unknown);
    EXPECT_TRUE(unknown.error().starts_with("LookupPrivilegeValueW failed for SeNoSuchPrivilege: ")) << unknown.error();
    // A desktop user's token lacks this one; only a service account holds it.
    const Status not_held = enable_privilege("SeAssignPrimaryTokenPrivilege");
    ASSERT_FALSE(not_held);
    EXPECT_EQ(not_held.error(), "SeAssignPrimaryTokenPrivilege is not assigned to this service process");
}

TEST(EnablePrivilege, APrivilegeNotHeldIsNoErrorWhenOnlyTried) {
    const auto tried = try_enable_privilege("SeAssignPrimaryTokenPrivilege");
    ASSERT_TRUE(tried) << tried.error();
    EXPECT_FALSE(*tried);
    const auto held = try_enable_privilege("SeTcbPrivilege");
    ASSERT_TRUE(held) << held.error();
    EXPECT_TRUE(*held);
    EXPECT_TRUE(enable_launch_privileges());
}

TEST(LaunchInConsoleSession, FromTheServiceStartsTheProgramInTheConsoleSession) {
    const auto folder = testing::scratch_dir("launched");
    const auto program = folder / L"Launched-Idle.exe";
    ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"idle-program.exe").c_str(), program.c_str(), FALSE));
    const std::string result = launch_from_service(program);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result, match, std::regex(R"(pid=(\d+)\n)"))) << result;
    const DWORD pid = static_cast<DWORD>(std::stoul(match[1]));

    const std::filesystem::path report = program.wstring() + L".started";
    ASSERT_TRUE(testing::wait_until([&] { return testing::read_file(report).has_value(); }, 10s));
    const std::string started = *testing::read_file(report);
    EXPECT_NE(started.find("pid=" + std::to_string(pid) + "\n"), std::string::npos) << started;
    // The user's own environment, not the service's.
    EXPECT_EQ(started.find("systemprofile"), std::string::npos) << started;
    DWORD session = 0;
    EXPECT_TRUE(ProcessIdToSessionId(pid, &session));
    EXPECT_EQ(session, active_console_session());
    testing::end_process(pid);
}

TEST(LaunchInConsoleSession, FromTheServiceAMissingProgramNamesThePathAsGiven) {
    const std::wstring missing = L"C:\\Kestrivon Missing\\..\\nowhere\\Kestrivon-Client.exe";
    const std::string result = launch_from_service(missing);
    const std::string expected = "error=CreateProcessAsUserW failed for C:\\Kestrivon Missing\\..\\nowhere\\Kestrivon-Client.exe in session " +
                                 std::to_string(active_console_session()) + ": ";
    EXPECT_TRUE(result.starts_with(expected)) << result;
    EXPECT_TRUE(std::regex_search(result, std::regex(R"(\(os error \d+\)\n$)"))) << result;
}

}  // namespace
}  // namespace kv
