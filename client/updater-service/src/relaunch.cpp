#include "relaunch.hpp"

#include <windows.h>

#include <chrono>

#include "canonical_path.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "link_safe_files.hpp"
#include "process_utilities.hpp"
#include "session_launcher.hpp"
#include "unique_resource.hpp"
#include "update_decisions.hpp"
#include "update_records.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

std::string text_of(const std::filesystem::path& path) { return narrow(path.wstring()); }

InstallerProcessView look_at_process(std::uint32_t pid) {
    InstallerProcessView view;
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) return view;
    view.opened = true;
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process.get(), &exit_code)) view.exit_code = exit_code;
    view.image = process_image_text(pid);
    view.creation_time = process_creation_time(process.get());
    return view;
}

RelaunchDecision decide(const UpdateEnvironment& environment, const std::filesystem::path& marker_file,
                        const PendingRelaunch& marker) {
    if (marker.installer_pid == 0) {
        const auto modified = file_modified_time(marker_file);
        return decide_unconfirmed_relaunch(modified ? whole_seconds_age(std::chrono::system_clock::now(), *modified)
                                                    : std::nullopt);
    }
    const std::string installer_folder = narrow(without_extended_prefix((environment.updates / L"installer").wstring()));
    return decide_relaunch(marker, look_at_process(marker.installer_pid), installer_folder);
}

}  // namespace

void clear_private_installer_folders() {
    const std::filesystem::path temp = windows_directory() / L"Temp";
    WIN32_FIND_DATAW entry{};
    const UniqueFindHandle search(FindFirstFileW((temp / L"*").c_str(), &entry));
    if (!search) return;
    do {
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // Links and junctions are never followed: only real folders of ours are removed.
        const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const std::wstring name = entry.cFileName;
        const std::string utf8 = narrow(name);
        if (folder && !link && widen(utf8) == name && is_private_installer_folder_name(utf8)) {
            delete_tree_quietly(temp / name);
        }
    } while (FindNextFileW(search.get(), &entry));
}

Status relaunch_after_installer(const UpdateEnvironment& environment) {
    const std::filesystem::path marker_file = environment.updates / L"pending-relaunch.json";
    if (still_settling(std::chrono::system_clock::now(), file_modified_time(marker_file), 2s)) return ok();

    const FileRead read = read_whole_file(marker_file);
    if (!read.ok()) {
        delete_file_quietly(marker_file);
        return fail("pending relaunch marker read failed: " + system_error_text(read.error));
    }
    const auto parsed = parse_pending_relaunch(read.bytes);
    if (!parsed) {
        delete_file_quietly(marker_file);
        return fail("pending relaunch marker parse failed: " + parsed.error());
    }
    const PendingRelaunch& marker = *parsed;

    const RelaunchDecision decision = decide(environment, marker_file, marker);
    if (decision.outcome == RelaunchDecision::Outcome::wait) return ok();
    if (decision.outcome == RelaunchDecision::Outcome::foreign) {
        environment.record("pending relaunch marker names a process we did not start (" + decision.reason +
                           "); removing it");
    }

    delete_file_quietly(marker_file);
    clear_private_installer_folders();
    const auto install = environment.install_dir();
    if (!install) return fail(install.error());
    const std::filesystem::path client = *install / L"Kestrivon-Client.exe";
    if (!path_exists(client)) return fail("pending relaunch client does not exist: " + text_of(client));
    environment.log("pending relaunch ready: version=" + marker.version +
                    " installer_pid=" + std::to_string(marker.installer_pid) + " client=" + text_of(client));
    kill_image("Kestrivon-Client.exe");
    kill_image("Kestrivon-Watchdog.exe");
    const auto launched = launch_in_console_session(client, *install, environment.log);
    if (!launched) return fail(launched.error());
    environment.log("interactive client started after update: version=" + marker.version +
                    " pid=" + std::to_string(*launched) + " path=" + text_of(client));
    return ok();
}

}  // namespace kv
