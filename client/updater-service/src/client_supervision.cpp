#include "client_supervision.hpp"

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <system_error>

#include "canonical_path.hpp"
#include "client_identity.hpp"
#include "heartbeat_check.hpp"
#include "process_utilities.hpp"
#include "service_log.hpp"
#include "session_launcher.hpp"
#include "unicode_case.hpp"
#include "unique_resource.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

std::string comparison_key(std::string_view path) { return unicode_lower(normalise_client_path(path)); }

std::optional<std::string> image_key(std::uint32_t pid) {
    const auto image = process_image_path(pid);
    if (!image) return std::nullopt;
    const auto canonical = canonicalize_path(widen(*image));
    return comparison_key(canonical ? narrow(canonical->wstring()) : *image);
}

std::optional<std::uint32_t> session_of(std::uint32_t pid) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(pid, &session)) return std::nullopt;
    return session;
}

void terminate_unresponsive(std::uint32_t pid) {
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process) (void)TerminateProcess(process.get(), 1);
}

}  // namespace

ClientSupervisor::ClientSupervisor(SupervisionRecords& records, LogSink log, ClientSupervisionSeams seams)
    : records_(records), log_(std::move(log)), seams_(std::move(seams)) {
    static SteadyClock steady;
    if (!seams_.clock) seams_.clock = &steady;
    if (!seams_.install_dir) seams_.install_dir = [] { return install_dir(); };
    if (!seams_.console_session) seams_.console_session = [] { return active_console_session(); };
    if (!seams_.launch) {
        seams_.launch = [log = log_](const std::filesystem::path& program, const std::filesystem::path& folder) {
            return launch_in_console_session(program, folder, log);
        };
    }
}

void ClientSupervisor::run_pass() {
    std::optional<std::string> expected_key;
    if (const auto folder = seams_.install_dir()) {
        expected_key = comparison_key(narrow((*folder / widen(client_file_name)).wstring()));
    }
    const std::uint32_t console_session = seams_.console_session();
    if (const auto client = find_client(expected_key, console_session)) {
        supervise_running(*client);
    } else {
        relaunch_missing();
    }
}

std::optional<std::uint32_t> ClientSupervisor::find_client(const std::optional<std::string>& expected_key,
                                                           std::uint32_t console_session) const {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (!has_client_file_name(narrow(entry.szExeFile))) continue;
        // The image and session are read only for processes named like the client.
        ClientCandidate candidate;
        if (expected_key) {
            candidate.image_key = image_key(entry.th32ProcessID);
            candidate.session = session_of(entry.th32ProcessID);
        }
        if (is_supervised_client(candidate, expected_key, console_session)) return entry.th32ProcessID;
    }
    return std::nullopt;
}

void ClientSupervisor::supervise_running(std::uint32_t pid) {
    records_.authorized_exit.expire(seams_.clock->now());
    switch (check_heartbeat(records_.heartbeats, pid, seams_.clock->now())) {
        case HeartbeatVerdict::FirstWarning:
            log_("client pid=" + std::to_string(pid) + " sent no heartbeat for 90s; waiting 30s more");
            break;
        case HeartbeatVerdict::Unresponsive:
            if (records_.authorized_exit.is_announced()) break;
            log_("client pid=" + std::to_string(pid) + " unresponsive, ending it for a relaunch");
            terminate_unresponsive(pid);
            records_.heartbeats.forget(pid);
            return;
        case HeartbeatVerdict::Fresh:
        case HeartbeatVerdict::StillWarned:
            break;
    }
    throttle_.client_running(seams_.clock->now());
}

void ClientSupervisor::relaunch_missing() {
    records_.authorized_exit.mark_seen();
    if (records_.authorized_exit.is_announced()) return;  // an announced exit is not undone
    const auto delay = throttle_.launch_due(seams_.clock->now());
    if (!delay) return;
    const auto launched = launch_client();
    if (launched) {
        log_("supervisor relaunched client pid=" + std::to_string(*launched));
        throttle_.launched(*delay, seams_.clock->now());
    } else {
        log_("supervisor relaunch failed: " + launched.error());
        throttle_.launch_failed(*delay, seams_.clock->now());
    }
}

Result<std::uint32_t> ClientSupervisor::launch_client() {
    const auto folder = seams_.install_dir();
    if (!folder) return fail(folder.error());
    const std::filesystem::path program = *folder / widen(client_file_name);
    std::error_code error;
    if (!std::filesystem::exists(program, error)) return fail("client not found: " + narrow(program.wstring()));
    return seams_.launch(program, *folder);
}

}  // namespace kv
