#include "ensure_job_rules.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(PowershellResult, LastOutputLineOrFirstErrorLine) {
    const struct {
        std::uint32_t exit_code;
        const char* output;
        const char* error_output;
        bool ok;
        const char* text;
    } cases[] = {
        {0, "added\r\n", "", true, "added"},
        {0, "noise\r\nmore\r\n  present  \r\n\r\n", "warning", true, "present"},
        {0, "", "", true, ""},
        {1, "added", "spool directory access list could not be set\r\nAt line:9 char:1\r\n", false,
         "spool directory access list could not be set"},
        {1, "", "   Microsoft Print To PDF driver is not available   \n", false, "Microsoft Print To PDF driver is not available"},
        {5, "whatever", "", false, "powershell failed"},
        {1, "", "caf\xFF\n", false, "caf\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        const auto result = interpret_powershell_result(c.exit_code, c.output, c.error_output);
        ASSERT_EQ(result.has_value(), c.ok) << c.output << "|" << c.error_output;
        EXPECT_EQ(c.ok ? *result : result.error(), c.text);
    }
}

TEST(WebFilterPath, MatchesTheProgramInAnyCaseQuotedOrWithArguments) {
    const std::string program = "C:\\Program Files\\Kestrivon\\Kestrivon-WebFilter.exe";
    const std::pair<std::string, bool> cases[] = {
        {program, true},
        {"  \"C:\\PROGRAM FILES\\Kestrivon\\kestrivon-webfilter.EXE\" service  ", true},
        {"\"\"" + program + "\" run", true},
        {program + " --service", true},
        {program + ".bak", false},
        {program + "x \"y\"", false},
        {"C:\\Other\\Kestrivon-WebFilter.exe", false},
        {"", false},
    };
    for (const auto& [configured, expected] : cases) EXPECT_EQ(web_filter_path_matches(configured, program), expected) << configured;
}

TEST(WebFilterStep, ByServiceState) {
    EXPECT_EQ(web_filter_step_for_state(4), WebFilterStep::report_running);
    for (std::uint32_t pending : {2u, 3u, 5u}) EXPECT_EQ(web_filter_step_for_state(pending), WebFilterStep::report_pending);
    for (std::uint32_t stopped : {1u, 6u, 7u}) EXPECT_EQ(web_filter_step_for_state(stopped), WebFilterStep::start_then_install);
    EXPECT_EQ(web_filter_step_for_state(0), WebFilterStep::install);
}

}  // namespace
}  // namespace kv
