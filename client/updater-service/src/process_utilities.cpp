#include "process_utilities.hpp"

#include <vector>

#include "canonical_path.hpp"
#include "child_process.hpp"
#include "data_paths.hpp"
#include "image_listing.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

// By full path in the system folder: a LocalSystem service must never run a planted copy.
std::wstring system_tool(const wchar_t* file_name) { return (system_directory() / file_name).wstring(); }

void run_taskkill(std::vector<std::wstring> arguments) {
    (void)run_child({system_tool(L"taskkill.exe"), std::move(arguments), ChildConsole::hidden, false});
}

}  // namespace

void request_image_exit(std::string_view image_name) { run_taskkill({L"/IM", widen(image_name)}); }

void kill_image(std::string_view image_name) { run_taskkill({L"/F", L"/IM", widen(image_name)}); }

bool is_image_running(std::string_view image_name) {
    const std::wstring filter = L"IMAGENAME eq " + widen(image_name);
    const auto listed = run_child({system_tool(L"tasklist.exe"), {L"/FI", filter, L"/NH"}, ChildConsole::hidden, true});
    if (!listed || listed->exit_code != 0) return false;
    return listing_mentions_image(listed->output, image_name);
}

std::optional<std::string> process_image_path(HANDLE process) {
    std::wstring buffer(32768, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length) || length == 0) return std::nullopt;
    buffer.resize(length);
    return narrow(buffer);
}

std::optional<std::string> process_image_path(std::uint32_t pid) {
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return std::nullopt;
    return process_image_path(process.get());
}

std::optional<std::string> process_image_text(std::uint32_t pid) {
    const auto image = process_image_path(pid);
    if (!image) return std::nullopt;
    return narrow(without_extended_prefix(widen(*image)));
}

std::optional<std::uint64_t> process_creation_time(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace kv
