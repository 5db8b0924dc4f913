#include "ensure_job_rules.hpp"

#include "text.hpp"
#include "update_decisions.hpp"

namespace kv {

Result<std::string> interpret_powershell_result(std::uint32_t exit_code, std::string_view output, std::string_view error_output) {
    if (exit_code != 0) {
        const std::string errors = utf8_lossy(error_output);
        std::string_view first = errors;
        first = first.substr(0, first.find('\n'));
        if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
        first = trim_white_space(first);
        if (errors.empty()) return fail("powershell failed");
        return fail(std::string(first));
    }
    const std::string text = utf8_lossy(output);
    std::string_view trimmed = trim_white_space(text);
    const size_t last_break = trimmed.rfind('\n');
    std::string_view last = last_break == std::string_view::npos ? trimmed : trimmed.substr(last_break + 1);
    return std::string(trim_white_space(last));
}

bool web_filter_path_matches(std::string_view configured, std::string_view program) {
    std::string_view path = trim_white_space(configured);
    while (!path.empty() && path.front() == '"') path.remove_prefix(1);
    const std::string configured_lower = ascii_lower(path);
    const std::string program_lower = ascii_lower(program);
    if (!configured_lower.starts_with(program_lower)) return false;
    if (configured_lower.size() == program_lower.size()) return true;
    const char next = configured_lower[program_lower.size()];
    return next == '"' || next == ' ';
}

WebFilterStep web_filter_step_for_state(std::uint32_t state) {
    switch (state) {
        case 4: return WebFilterStep::report_running;
        case 2:
        case 3:
        case 5: return WebFilterStep::report_pending;
        case 1:
        case 6:
        case 7: return WebFilterStep::start_then_install;
        default: return WebFilterStep::install;
    }
}

}  // namespace kv
