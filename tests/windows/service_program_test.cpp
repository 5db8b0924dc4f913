// The service program's verbs, run as a newcomer would run them, against Wine's service manager.
#include <windows.h>

#include <gtest/gtest.h>

#include "data_paths.hpp"
#include "service_installation.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

std::filesystem::path updater() { return testing::program_dir() / L"Kestrivon-Client-Updater.exe"; }

bool contains(const std::optional<std::string>& text, const std::string& part) {
    return text && text->find(part) != std::string::npos;
}

TEST(ServiceProgram, AnUnknownVerbIsRefusedWithExitCodeTwo) {
    for (const std::wstring verb : {L"Install", L"--help", L"apply_once", L""}) {
        const auto run = testing::run_captured(updater(), {verb, L"install"});
        EXPECT_EQ(run.exit_code, 2u) << narrow(verb);
        EXPECT_EQ(run.err, "unknown command '" + narrow(verb) + "'. expected install, uninstall, apply-once or service\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST(ServiceProgram, TheServiceVerbFromAConsoleCannotReachTheDispatcher) {
    // Wine takes seconds to give up on the dispatcher, so only the bare program is run here.
    const auto run = testing::run_captured(updater(), {});
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err, "service dispatcher failed: IO error in winapi call\n");
}

TEST(ServiceProgram, ApplyOnceWithNothingStagedSucceedsSilently) {
    const auto base = testing::scratch_dir("apply-once");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    const auto run = testing::run_captured(updater(), {L"apply-once"});
    EXPECT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_EQ(run.err, "");
}

TEST(ServiceProgram, InstallStartsTheServiceAndUninstallRemovesIt) {
    const auto base = testing::scratch_dir("install");
    testing::ScopedEnvironment program_data(L"ProgramData", base.wstring());
    const auto install_log = [&] { return testing::read_file(base / L"Kestrivon\\Client\\logs\\updater-service.log"); };
    const auto service_log = [] { return testing::read_file(testing::service_log_path()); };
    std::error_code ignored;
    std::filesystem::remove(testing::service_log_path(), ignored);

    const auto installed = testing::run_captured(updater(), {L"install"});
    ASSERT_EQ(installed.exit_code, 0u) << installed.err;
    EXPECT_TRUE(contains(install_log(), "] service installed and running\n")) << install_log().value_or("");
    const auto query = query_service();
    ASSERT_TRUE(query) << query.error();
    ASSERT_TRUE(std::holds_alternative<ServiceStatus>(*query));
    EXPECT_EQ(std::get<ServiceStatus>(*query).state, service_state_running);
    EXPECT_TRUE(std::get<ServiceStatus>(*query).pid.has_value());
    EXPECT_TRUE(testing::wait_until([&] { return contains(service_log(), "] service running\n"); }, 10s));

    // Wine's own sc.exe cannot "config": a second install then fails as it must.
    const auto refused = testing::run_captured(updater(), {L"install"});
    EXPECT_EQ(refused.exit_code, 1u);
    EXPECT_EQ(refused.err, "sc create/config returned non-zero\n");

    // With an sc.exe that can, the second install reconfigures the registered service.
    testing::install_system_tool_double(L"sc-double.exe", L"sc.exe");
    const auto calls = system_directory() / L"sc.exe.calls";
    std::filesystem::remove(calls, ignored);
    const auto reinstalled = testing::run_captured(updater(), {L"install"});
    testing::prefer_tool_double(L"sc.exe", false);
    EXPECT_EQ(reinstalled.exit_code, 0u) << reinstalled.err;
    EXPECT_EQ(service_image_path(L"C:\\Program Files\\K\\u.exe"), L"\"C:\\Program Files\\K\\u.exe\" service");
    const std::string image = narrow(service_image_path(updater().wstring()));
    EXPECT_EQ(testing::read_file(calls).value_or(""),
              "create\tKestrivonClientUpdater\tbinPath=\t" + image + "\tstart=\tauto\tDisplayName=\tKestrivon Client Updater\n"
              "config\tKestrivonClientUpdater\tbinPath=\t" + image + "\tstart=\tauto\n"
              "description\tKestrivonClientUpdater\tKeeps Kestrivon Client updated and running.\n"
              "failure\tKestrivonClientUpdater\treset=\t86400\tactions=\trestart/60000/restart/60000/none/0\n"
              "start\tKestrivonClientUpdater\n");

    const auto uninstalled = testing::run_captured(updater(), {L"uninstall"});
    ASSERT_EQ(uninstalled.exit_code, 0u) << uninstalled.err;
    EXPECT_TRUE(contains(install_log(), "] service uninstalled\n") ||
                contains(install_log(), "] service stopped and marked for deletion\n"))
        << install_log().value_or("");
    // The service main finishes its last line even though the dispatcher returns first.
    EXPECT_TRUE(contains(service_log(), "] service stopped\n")) << service_log().value_or("");
    EXPECT_TRUE(wait_until_stopped(5s));
    const auto gone = query_service();
    ASSERT_TRUE(gone) << gone.error();
    EXPECT_TRUE(std::holds_alternative<ServiceNotInstalled>(*gone));

    const auto again = testing::run_captured(updater(), {L"uninstall"});
    EXPECT_EQ(again.exit_code, 0u) << again.err;
}

}  // namespace
}  // namespace kv
