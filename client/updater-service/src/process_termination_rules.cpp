#include "process_termination_rules.hpp"
#include "decimal_text.hpp"

#include <array>

#include "text.hpp"

namespace kv {
namespace {

constexpr std::array<std::string_view, 9> protected_product_names = {
    "Kestrivon-Client",   "Kestrivon Client", "Kestrivon-Watchdog",       "Kestrivon Watchdog", "Kestrivon-Server",
    "Kestrivon Server",   "Kestrivon-Client-Updater", "Kestrivon-WebFilter", "kestrivon",
};

constexpr std::array<std::string_view, 38> protected_system_names = {
    "System",          "System Idle Process",   "Registry",      "Secure System",       "Memory Compression",
    "smss",            "csrss",                 "wininit",       "winlogon",            "services",
    "lsass",           "lsm",                   "fontdrvhost",   "sihost",              "taskhostw",
    "explorer",        "dwm",                   "ctfmon",        "ShellExperienceHost", "StartMenuExperienceHost",
    "ApplicationFrameHost", "SearchApp",        "SearchUI",      "SearchHost",          "RuntimeBroker",
    "TextInputHost",   "svchost",               "spoolsv",       "audiodg",             "conhost",
    "dllhost",         "WUDFHost",              "WmiPrvSE",      "SearchIndexer",       "MsMpEng",
    "NisSrv",          "SecurityHealthService", "SecurityHealthSystray",
};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& names, std::string_view stem) {
    for (const auto name : names) {
        if (equals_ignoring_ascii_case(name, stem)) return true;
    }
    return false;
}

}  // namespace

std::optional<std::uint32_t> parse_pid(std::string_view text) {
    return parse_unsigned32(text);
}

std::string image_stem(std::string_view image_path) {
    const std::size_t slash = image_path.find_last_of("\\/");
    const std::string_view name = slash == std::string_view::npos ? image_path : image_path.substr(slash + 1);
    if (name == "..") return std::string(name);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(name);
    return std::string(name.substr(0, dot));
}

bool is_protected_product_name(std::string_view stem) { return listed(protected_product_names, stem); }

bool is_protected_system_name(std::string_view stem) { return listed(protected_system_names, stem); }

Result<std::string> run_kill_command(std::string_view argument, std::uint32_t own_pid, TerminationTarget& target,
                                     const LogSink& log) {
    const auto pid = parse_pid(argument);
    if (!pid) return fail("pid is not a number");
    if (*pid == 0 || *pid == own_pid) return fail("refusing to kill self");
    const auto path = target.image_path(*pid);
    if (!path) return fail("target not found");
    const std::string stem = image_stem(*path);
    if (is_protected_product_name(stem)) return fail("refusing to kill Kestrivon process '" + stem + "'");
    if (is_protected_system_name(stem)) return fail("refusing to kill system process '" + stem + "'");
    if (Status ended = target.terminate(*pid); !ended) return fail(ended.error());
    log("privileged kill ok pid=" + std::to_string(*pid) + " name=" + stem);
    return "OK " + std::to_string(*pid);
}

}  // namespace kv
