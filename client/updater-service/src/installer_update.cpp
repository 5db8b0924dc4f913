#include "installer_update.hpp"

#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "canonical_path.hpp"
#include "child_process.hpp"
#include "command_line.hpp"
#include "data_paths.hpp"
#include "file_io.hpp"
#include "installer_digest.hpp"
#include "link_safe_files.hpp"
#include "markers.hpp"
#include "minisign.hpp"
#include "process_utilities.hpp"
#include "unique_resource.hpp"
#include "update_decisions.hpp"
#include "update_records.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

using namespace std::chrono_literals;

constexpr char client_image[] = "Kestrivon-Client.exe";
constexpr char watchdog_image[] = "Kestrivon-Watchdog.exe";
constexpr int private_folder_attempts = 5;

std::string text_of(const std::filesystem::path& path) { return narrow(path.wstring()); }

// Nanoseconds since 1970 as a 128-bit count, in decimal.
std::string nanoseconds_since_epoch_text() {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch());
    const auto count = ns.count();
    return std::to_string(count < 0 ? 0 : static_cast<unsigned long long>(count));
}

struct StartedInstaller {
    UniqueHandle process;
    DWORD pid = 0;
};

// Inherits the service's account, session, environment, folder and standard handles.
Result<StartedInstaller> start_installer(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide;
    for (const auto& argument : arguments) wide.push_back(widen(argument));
    std::wstring line = windows_command_line(program.wstring(), wide);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
        return fail(last_error_text());
    }
    const UniqueHandle thread(created.hThread);
    return StartedInstaller{UniqueHandle(created.hProcess), created.dwProcessId};
}

}  // namespace

Result<std::filesystem::path> make_private_installer_copy(const UpdateEnvironment& environment,
                                                          const std::filesystem::path& installer, std::string_view bytes) {
    const std::filesystem::path temp = windows_directory() / L"Temp";
    const std::string time = nanoseconds_since_epoch_text();
    const std::filesystem::path file_name = installer.has_filename() ? installer.filename() : L"installer.exe";
    for (int attempt = 0; attempt < private_folder_attempts; ++attempt) {
        const std::filesystem::path folder =
            temp / widen("Kestrivon-installer-" + std::to_string(GetCurrentProcessId()) + "-" + time + "-" + std::to_string(attempt));
        UniqueLocalMemory descriptor;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(private_installer_folder_sddl, SDDL_REVISION_1,
                                                                  descriptor.put(), nullptr)) {
            return fail("private installer dir create failed: " + text_of(folder) + " (error " +
                        std::to_string(GetLastError()) + ")");
        }
        SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
        if (!CreateDirectoryW(folder.c_str(), &security)) {
            const DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS) continue;
            return fail("private installer dir create failed: " + text_of(folder) + " (error " + std::to_string(error) + ")");
        }
        const std::filesystem::path copy = folder / file_name;
        if (Status written = write_new_file_flushed(copy, bytes); !written) {
            delete_tree_quietly(folder);
            return fail("private installer copy failed: " + text_of(copy) + " (" + written.error() + ")");
        }
        environment.log("verified installer copied to " + text_of(copy));
        return copy;
    }
    return fail("private installer dir: every candidate name already exists");
}

void request_client_and_watchdog_exit(const LogSink& log) {
    log("requesting client and watchdog exit before installer");
    request_image_exit(client_image);
    request_image_exit(watchdog_image);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!is_image_running(client_image) && !is_image_running(watchdog_image)) {
            log("client and watchdog exited before installer");
            return;
        }
        std::this_thread::sleep_for(500ms);
    }
    log("client or watchdog still running after 10s; force killing");
    kill_image(client_image);
    kill_image(watchdog_image);
}

Status run_installer_update(const UpdateEnvironment& environment) {
    const std::filesystem::path marker = environment.updates / L"pending-installer.json";
    if (still_settling(std::chrono::system_clock::now(), file_modified_time(marker), 2s)) return ok();
    environment.log("pending installer marker detected: " + text_of(marker));

    // From here on every failure removes the marker, so a broken installer is never retried.
    const auto refuse = [&](const std::string& text, bool recorded) -> Status {
        if (recorded) environment.record(text);
        delete_file_quietly(marker);
        return fail(text);
    };

    const FileRead read = read_whole_file(marker);
    if (!read.ok()) return refuse("pending installer marker read failed: " + system_error_text(read.error), false);
    const auto parsed = parse_pending_installer(read.bytes);
    if (!parsed) return refuse("pending installer marker parse failed: " + parsed.error(), false);
    const PendingInstallerUpdate& update = *parsed;

    if (trim_white_space(update.signature).empty()) return refuse("pending installer has no signature", true);

    const std::filesystem::path installer_path = widen(trim_white_space(update.installer_path));
    const auto folder = canonicalize_path(environment.updates / L"installer");
    if (!folder) return refuse("installer dir canonicalize failed: " + folder.error(), false);
    const auto installer = canonicalize_path(installer_path);
    if (!installer) return refuse("installer canonicalize failed: " + installer.error(), false);
    if (!path_lies_within(text_of(*installer), text_of(*folder))) {
        return refuse("pending installer path escapes installer dir", true);
    }
    environment.log("pending installer resolved: version=" + update.version + " path=" + text_of(*installer));

    // Read once; the checksum and the signature's digest are computed side by side.
    const auto installer_read = read_installer_with_digests(*installer);
    if (!installer_read) return refuse("pending installer read failed: " + installer_read.error(), false);
    const std::string& digest = installer_read->sha256_hex;
    if (!digest_matches_trimmed(update.sha256, digest)) {
        environment.record("pending installer checksum mismatch expected=" + update.sha256 + " got=" + digest);
        return refuse("pending installer checksum mismatch", false);
    }
    if (Status verified = verify_update_signature_of_digest(installer_read->blake2b_512, update.signature); !verified) {
        return refuse("pending installer signature rejected: " + verified.error(), true);
    }
    environment.log("pending installer verified: version=" + update.version + " sha256=" + digest +
                    " bytes=" + std::to_string(installer_read->bytes.size()));

    const auto copy = make_private_installer_copy(environment, *installer, installer_read->bytes);
    if (!copy) return refuse(copy.error(), true);

    request_client_and_watchdog_exit(environment.log);

    if (Status marked = write_relaunch_marker(environment, update.version, 0, 0, ""); !marked) {
        return refuse(marked.error(), false);
    }
    const std::vector<std::string> arguments = installer_arguments(update.args);
    environment.log("launching signed installer: version=" + update.version + " path=" + text_of(*copy) +
                    " args=" + format_argument_list(arguments));
    auto started = start_installer(*copy, arguments);
    if (!started) {
        delete_file_quietly(environment.updates / L"pending-relaunch.json");
        delete_tree_quietly(copy->parent_path());
        return refuse("installer spawn failed: " + started.error(), false);
    }
    const std::uint64_t start_time = process_creation_time(started->process.get()).value_or(0);
    // Recorded as the system reports the image, which is what the relaunch check compares
    // with: the system may spell the Windows folder in another letter case than the path
    // built here, and a mismatch would relaunch the client while the installer still runs.
    const std::string image = process_image_text(started->pid).value_or(narrow(without_extended_prefix(copy->wstring())));
    if (Status marked = write_relaunch_marker(environment, update.version, started->pid, start_time, image); !marked) {
        environment.record("pending relaunch marker update failed: " + marked.error());
    }
    delete_file_quietly(marker);
    environment.log("installer update launched (signed): " + update.version + " pid=" + std::to_string(started->pid) +
                    " path=" + text_of(*copy));
    environment.end_process();
    return ok();
}

}  // namespace kv
