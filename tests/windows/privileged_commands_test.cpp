// The privileged commands against Wine's real registry, service manager and processes, with
// stand-ins for powershell.exe and Kestrivon-WebFilter.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "clock_setting.hpp"
#include "data_paths.hpp"
#include "dns_policy.hpp"
#include "unique_resource.hpp"
#include "virtual_printer.hpp"
#include "web_filter_service.hpp"
#include "win_text.hpp"
#include "windows_test_support.hpp"
#include "../../support/fake_clock.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// ---- registry helpers -------------------------------------------------------------------

void delete_machine_key(const wchar_t* key) { RegDeleteTreeW(HKEY_LOCAL_MACHINE, key); }

std::optional<std::wstring> machine_string(const wchar_t* key, const wchar_t* name, DWORD* type_out = nullptr) {
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    DWORD type = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY, &type, buffer, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type_out) *type_out = type;
    if (type == REG_DWORD) return std::to_wstring(*reinterpret_cast<DWORD*>(buffer));
    return std::wstring(buffer);
}

void set_machine_value(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    UniqueRegistryKey opened;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(), nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(opened.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

void set_ledger_text(const std::wstring& text) {
    set_machine_value(clock_ledger_key, clock_ledger_value, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

// ---- SETTIME ------------------------------------------------------------------------------

class ClockSettingTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, clock_ledger_key, clock_ledger_value); }

    ClockSetting make_setting() {
        return ClockSetting({&clock, [this] { return wall; }, [this](std::int64_t target) -> Status {
                                 requested.push_back(target);
                                 if (refuse) return fail("SetSystemTime failed: 1314");
                                 return ok();
                             }});
    }
    std::optional<std::wstring> ledger() const { return machine_string(clock_ledger_key, clock_ledger_value); }

    testing::FakeClock clock;
    std::int64_t wall = 1800000000;
    bool refuse = false;
    std::vector<std::int64_t> requested;
};

TEST_F(ClockSettingTest, RecordsTheStepBeforeMovingTheClockAndSpacesChanges) {
    ClockSetting setting = make_setting();
    const auto first = setting.set_clock("1800003600");
    ASSERT_TRUE(first) << first.error();
    EXPECT_EQ(*first, 1800000000);
    EXPECT_EQ(requested, (std::vector<std::int64_t>{1800003600}));
    EXPECT_EQ(ledger(), L"1800003600:3600");

    clock.advance(30s);
    const auto soon = setting.set_clock("1800003700");
    ASSERT_FALSE(soon);
    EXPECT_EQ(soon.error(), "the clock was set less than a minute ago");
    EXPECT_EQ(ledger(), L"1800003600:3600");

    clock.advance(30s);
    wall = 1800003660;
    ASSERT_TRUE(setting.set_clock("1800003660"));
    EXPECT_EQ(ledger(), L"1800003600:3600,1800003660:0");
}

TEST_F(ClockSettingTest, AFailedClockChangeGivesTheBudgetBackExactly) {
    set_ledger_text(L"word,1700000000:5,1800000000:-3600,42");
    refuse = true;
    ClockSetting setting = make_setting();
    const auto failed = setting.set_clock("1800007200");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), "SetSystemTime failed: 1314");
    EXPECT_EQ(ledger(), L"1700000000:5,1800000000:-3600") << "well-formed entries, none dropped by the window";
    // A refused change does not start the minute.
    refuse = false;
    EXPECT_TRUE(setting.set_clock("1800007200"));
    EXPECT_EQ(ledger(), L"1800000000:-3600,1800007200:7200");
}

TEST_F(ClockSettingTest, BudgetAndLedgerTroubleAreReportedWithoutTouchingTheClock) {
    set_ledger_text(L"1799990000:259000");
    ClockSetting setting = make_setting();
    const auto over = setting.set_clock("1800000201");
    ASSERT_FALSE(over);
    EXPECT_EQ(over.error(), "clock adjustment budget used up (259000 s of 259200 s this week, asked for 201 s)");
    EXPECT_TRUE(requested.empty());

    const DWORD number = 7;
    set_machine_value(clock_ledger_key, clock_ledger_value, REG_DWORD, &number, sizeof(number));
    const auto unreadable = setting.set_clock("1800000001");
    ASSERT_FALSE(unreadable);
    EXPECT_TRUE(unreadable.error().starts_with("ledger read failed: ")) << unreadable.error();
    EXPECT_TRUE(requested.empty());
}

// ---- DNSPOLICY ----------------------------------------------------------------------------

TEST(DnsPolicyRegistry, OnAndOffAgainstTheMachineRegistry) {
    for (const auto& policy : browser_dns_policies()) delete_machine_key(widen(policy.key).c_str());
    const wchar_t chrome[] = L"SOFTWARE\\Policies\\Google\\Chrome";
    set_machine_value(chrome, L"BuiltInDnsClientEnabled", REG_SZ, L"0", 4);
    const auto registry = machine_policy_registry();

    const auto on = apply_dns_policy(*registry, browser_dns_policies(), true);
    ASSERT_TRUE(on) << on.error();
    EXPECT_EQ(on->changed, 8u);
    DWORD type = 0;
    EXPECT_EQ(machine_string(chrome, L"BuiltInDnsClientEnabled", &type), L"0");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << "a text \"0\" is replaced by the number";
    EXPECT_EQ(machine_string(L"SOFTWARE\\Policies\\Mozilla\\Firefox\\DNSOverHTTPS", L"Locked"), L"1");
    EXPECT_EQ(apply_dns_policy(*registry, browser_dns_policies(), true)->changed, 0u);

    set_machine_value(chrome, L"DnsOverHttpsMode", REG_SZ, L"Off", 8);
    EXPECT_EQ(apply_dns_policy(*registry, browser_dns_policies(), true)->changed, 1u);

    // A REG_DWORD two bytes long holds no number: "on" writes a proper one, "off" removes it.
    const WORD short_number = 0;
    set_machine_value(chrome, L"BuiltInDnsClientEnabled", REG_DWORD, &short_number, sizeof(short_number));
    EXPECT_EQ(apply_dns_policy(*registry, browser_dns_policies(), true)->changed, 1u);
    EXPECT_EQ(machine_string(chrome, L"BuiltInDnsClientEnabled"), L"0");
    set_machine_value(chrome, L"BuiltInDnsClientEnabled", REG_DWORD, &short_number, sizeof(short_number));

    EXPECT_EQ(apply_dns_policy(*registry, browser_dns_policies(), false)->changed, 8u);
    EXPECT_EQ(apply_dns_policy(*registry, browser_dns_policies(), false)->changed, 0u);
    EXPECT_FALSE(machine_string(chrome, L"DnsOverHttpsMode"));
    for (const auto& policy : browser_dns_policies()) delete_machine_key(widen(policy.key).c_str());
}

// ---- VPRINTER -----------------------------------------------------------------------------

class VirtualPrinterTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const fs::path folder = system_directory() / L"WindowsPowerShell" / L"v1.0";
        fs::create_directories(folder);
        ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"powershell-double.exe").c_str(), (folder / L"powershell.exe").c_str(), FALSE));
        testing::prefer_tool_double(L"powershell.exe", true);
    }
    std::string run_with(const std::wstring& mode) {
        const auto report = testing::scratch_dir("powershell") / L"report.txt";
        testing::ScopedEnvironment mode_variable(L"KV_POWERSHELL_MODE", mode);
        testing::ScopedEnvironment report_variable(L"KV_POWERSHELL_REPORT", report.wstring());
        std::vector<std::string> lines;
        run_virtual_printer_job([&](std::string_view line) { lines.emplace_back(line); });
        last_report = testing::read_file(report).value_or("");
        return lines.size() == 1 ? lines[0] : "lines: " + std::to_string(lines.size());
    }
    std::string last_report;
};

TEST_F(VirtualPrinterTest, RunsTheScriptWithItsSixArgumentsAndThreeVariables) {
    testing::ScopedEnvironment program_data(L"ProgramData", std::nullopt);
    EXPECT_EQ(run_with(L"ok:added"), "virtual printer ensure ok: added");
    EXPECT_NE(last_report.find("argc=6\narg1=-NoProfile\narg2=-NonInteractive\narg3=-ExecutionPolicy\narg4=Bypass\n"
                               "arg5=-Command\narg6=$ErrorActionPreference = 'Stop'"),
              std::string::npos)
        << last_report;
    EXPECT_NE(last_report.find("KV_VP_NAME=Kestrivon Printer\nKV_VP_DIR=C:\\ProgramData\\Kestrivon\\PrintSpool\nKV_VP_FILE=job.pdf\n"),
              std::string::npos)
        << last_report;
    EXPECT_EQ(run_with(L"ok:present"), "virtual printer ensure ok: present");
}

TEST_F(VirtualPrinterTest, ReportsTheScriptsFirstErrorLine) {
    EXPECT_EQ(run_with(L"fail:Microsoft Print To PDF driver is not available"),
              "virtual printer ensure failed: Microsoft Print To PDF driver is not available");
    EXPECT_EQ(run_with(L"silent-fail"), "virtual printer ensure failed: powershell failed");
}

TEST_F(VirtualPrinterTest, ALotOfOutputOnBothStreamsDoesNotStallTheJob) {
    EXPECT_EQ(run_with(L"flood"), "virtual printer ensure ok: added");
}

// ---- WEBFILTER ----------------------------------------------------------------------------

class WebFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = testing::scratch_dir("web-filter");
        ASSERT_TRUE(CopyFileW((testing::doubles_dir() / L"web-filter-double.exe").c_str(),
                              (folder / L"Kestrivon-WebFilter.exe").c_str(), FALSE));
    }
    void TearDown() override {
        change_service([](SC_HANDLE service) {
            SERVICE_STATUS status{};
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            DeleteService(service);
        });
    }
    template <class Change>
    void change_service(Change change) {
        const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        const UniqueServiceHandle service(OpenServiceW(manager.get(), L"KestrivonWebFilter", SERVICE_ALL_ACCESS));
        if (service) change(service.get());
    }
    DWORD state() {
        DWORD current = 0;
        change_service([&](SC_HANDLE service) {
            SERVICE_STATUS status{};
            if (QueryServiceStatus(service, &status)) current = status.dwCurrentState;
        });
        return current;
    }
    Result<std::string> ensure() { return ensure_web_filter(folder, run_command_with_timeout); }

    fs::path folder;
};

TEST_F(WebFilterTest, InstallsOnceThenFindsItRunningOrStartsIt) {
    auto outcome = ensure();
    ASSERT_TRUE(outcome) << outcome.error();
    EXPECT_EQ(*outcome, "installed");
    ASSERT_TRUE(testing::wait_until([&] { return state() == SERVICE_RUNNING; }, 10s));
    EXPECT_EQ(ensure().value_or("?"), "running");

    change_service([](SC_HANDLE service) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
    });
    ASSERT_TRUE(testing::wait_until([&] { return state() == SERVICE_STOPPED; }, 10s));
    EXPECT_EQ(ensure().value_or("?"), "started");
}

TEST_F(WebFilterTest, ADisabledOrForeignServiceIsInstalledAgain) {
    ASSERT_TRUE(ensure());
    change_service([](SC_HANDLE service) {
        ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(ensure().value_or("?"), "installed");
    change_service([](SC_HANDLE service) {
        ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                             L"\"C:\\Elsewhere\\Kestrivon-WebFilter.exe\" service", nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr);
    });
    EXPECT_EQ(ensure().value_or("?"), "installed");
}

TEST_F(WebFilterTest, AMissingProgramOrAHangingInstallAreErrors) {
    fs::remove(folder / L"Kestrivon-WebFilter.exe");
    const auto missing = ensure();
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), "Kestrivon-WebFilter.exe is not installed");

    SetUp();
    testing::ScopedEnvironment hang(L"KV_WEBFILTER_INSTALL_HANG", L"1");
    // The product's 120 s limit stays; only this test's runner is shorter.
    const auto hung = ensure_web_filter(folder, [](const std::wstring& program, const std::vector<std::wstring>& arguments,
                                                   std::chrono::seconds) { return run_command_with_timeout(program, arguments, 2s); });
    ASSERT_FALSE(hung);
    EXPECT_EQ(hung.error(), "Kestrivon-WebFilter.exe install failed: did not finish in 2 s");
}

}  // namespace
}  // namespace kv
