#include "watchdog_supervisor.hpp"

#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <userenv.h>

#include "canonical_path.hpp"
#include "process_utilities.hpp"
#include "session_launcher.hpp"
#include "text.hpp"
#include "unicode_case.hpp"
#include "win_error.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

constexpr wchar_t watchdog_file[] = L"Kestrivon-Watchdog.exe";

UniqueLocalMemory descriptor_from(const wchar_t* sddl) {
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor.put(), nullptr)) {
        descriptor.reset();
    }
    return descriptor;
}

std::string comparable_path(const std::wstring& path) {
    const auto canonical = canonicalize_path(path);
    const std::wstring text = canonical ? canonical->wstring() : path;
    return unicode_lower(narrow(text));
}

}  // namespace

void WatchdogSupervisor::retire_child() {
    if (!state_.child) return;
    TerminateProcess(state_.child->process.get(), 1);
    state_.child.reset();
}

std::optional<std::uint32_t> WatchdogSupervisor::child_pid() {
    std::lock_guard lock(lock_);
    if (!state_.child) return std::nullopt;
    return state_.child->pid;
}

std::uint32_t WatchdogSupervisor::end_leftover_watchdogs() {
    const auto install = dependencies_.install_dir();
    if (!install) return 0;
    const std::string expected = comparable_path((*install / watchdog_file).wstring());
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return 0;
    std::uint32_t ended = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (!equals_ignoring_ascii_case(narrow(entry.szExeFile), narrow(watchdog_file))) continue;
        const auto image = process_image_path(entry.th32ProcessID);
        if (!image || comparable_path(widen(*image)) != expected) continue;
        const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
        if (process && TerminateProcess(process.get(), 1)) ++ended;
    }
    return ended;
}

Result<WatchdogChild> WatchdogSupervisor::launch() {
    const auto install = dependencies_.install_dir();
    if (!install) return fail(install.error());
    const std::filesystem::path executable = *install / watchdog_file;
    WIN32_FILE_ATTRIBUTE_DATA metadata{};
    if (!GetFileAttributesExW(executable.c_str(), GetFileExInfoStandard, &metadata)) {
        return fail("watchdog not found: " + narrow(executable.wstring()));
    }
    // The same privileges, with the same tolerance, as the client's launcher.
    if (Status enabled = enable_launch_privileges(); !enabled) return fail(enabled.error());
    const auto session = signed_in_console_session();
    if (!session) return fail(session.error());
    auto token = session_user_token(*session);
    if (!token) return fail(token.error());

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    UniqueFileHandle heartbeat_read, heartbeat_write;
    if (!CreatePipe(heartbeat_read.put(), heartbeat_write.put(), &inheritable, 0)) {
        return fail("CreatePipe failed: " + last_error_text());
    }
    SetHandleInformation(heartbeat_read.get(), HANDLE_FLAG_INHERIT, 0);

    UniqueHandle pipe_copy;
    if (!DuplicateHandle(GetCurrentProcess(), state_.held_pipe.get(), GetCurrentProcess(), pipe_copy.put(), 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return fail("DuplicateHandle failed: " + last_error_text());
    }

    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    if (list_size == 0) return fail("InitializeProcThreadAttributeList size query failed");
    UniqueAttributeList attributes;
    if (!attributes.initialise(1)) return fail("InitializeProcThreadAttributeList failed: " + last_error_text());
    HANDLE inherited[2] = {pipe_copy.get(), heartbeat_write.get()};
    if (!UpdateProcThreadAttribute(attributes.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited),
                                   nullptr, nullptr)) {
        return fail("UpdateProcThreadAttribute failed: " + last_error_text());
    }

    UniqueEnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token->get(), FALSE)) environment.reset();

    const UniqueLocalMemory process_descriptor = descriptor_from(watchdog_process_sddl);
    const UniqueLocalMemory thread_descriptor = descriptor_from(watchdog_thread_sddl);
    const bool hardened = process_descriptor && thread_descriptor;
    SECURITY_ATTRIBUTES process_security{sizeof(process_security), process_descriptor.get(), FALSE};
    SECURITY_ATTRIBUTES thread_security{sizeof(thread_security), thread_descriptor.get(), FALSE};

    std::wstring command_line = L"\"" + executable.wstring() + L"\" --service-pipe=" +
                                std::to_wstring(reinterpret_cast<std::uintptr_t>(pipe_copy.get())) + L" --service-heartbeat=" +
                                std::to_wstring(reinterpret_cast<std::uintptr_t>(heartbeat_write.get()));
    std::wstring desktop = L"winsta0\\default";
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.lpDesktop = desktop.data();
    startup.lpAttributeList = attributes.get();
    const std::wstring directory = install->wstring();

    const auto create = [&](bool with_security, PROCESS_INFORMATION& created) {
        std::wstring line = command_line;
        return CreateProcessAsUserW(token->get(), executable.c_str(), line.data(), with_security ? &process_security : nullptr,
                                    with_security ? &thread_security : nullptr, TRUE,
                                    EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT, environment.get(),
                                    directory.c_str(), &startup.StartupInfo, &created) != FALSE;
    };
    PROCESS_INFORMATION created{};
    if (!create(hardened, created)) {
        const std::string first_error = last_error_text();
        // The same start without the hardened descriptors, rather than no watchdog at all.
        if (!create(false, created)) {
            return fail("CreateProcessAsUserW failed: " + first_error + "; without the hardened descriptor: " + last_error_text());
        }
    }
    const UniqueHandle thread(created.hThread);
    WatchdogChild child;
    child.process.reset(created.hProcess);
    child.heartbeat_reader = std::move(heartbeat_read);
    child.pid = created.dwProcessId;
    DWORD child_session = 0;
    child.session_id = ProcessIdToSessionId(created.dwProcessId, &child_session) ? child_session : *session;
    return child;
}

void WatchdogSupervisor::pass(const LogSink& log) {
    std::lock_guard lock(lock_);
    const MonotonicClock& clock = *dependencies_.clock;

    if (!state_.held_pipe) {
        std::string failure;
        const UniqueLocalMemory descriptor = descriptor_from(watchdog_pipe_sddl);
        if (!descriptor) {
            failure = "SDDL conversion failed (error " + std::to_string(GetLastError()) + ")";
        } else {
            SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
            state_.held_pipe.reset(CreateNamedPipeW(watchdog_pipe_name,
                                                    PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                                    PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, &security));
            if (!state_.held_pipe) failure = "CreateNamedPipe failed (error " + std::to_string(GetLastError()) + ")";
        }
        if (!state_.held_pipe) {
            if (!state_.leftovers_cleaned) {
                state_.leftovers_cleaned = true;
                const std::uint32_t ended = end_leftover_watchdogs();
                log("watchdog pipe unavailable (" + failure + "); ended " + std::to_string(ended) + " leftover watchdog(s)");
            }
            return;
        }
        log("watchdog pipe held by the service");
    }

    if (state_.child) {
        WatchdogChild& child = *state_.child;
        const std::string pid = std::to_string(child.pid);
        if (WaitForSingleObject(child.process.get(), 0) == WAIT_OBJECT_0) {
            state_.quick_exits = quick_exits_after_exit(state_.quick_exits, clock.now() - child.launched_at);
            log("watchdog pid=" + pid + " exited");
            retire_child();
        } else if (const std::uint32_t console = active_console_session(); console != child.session_id) {
            log("watchdog pid=" + pid + " is in session " + std::to_string(child.session_id) + ", the console is " +
                std::to_string(console) + "; replacing it");
            retire_child();
        } else {
            bool beat = false;
            DWORD available = 0;
            while (PeekNamedPipe(child.heartbeat_reader.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
                char bytes[64];
                DWORD read = 0;
                if (!ReadFile(child.heartbeat_reader.get(), bytes, sizeof(bytes), &read, nullptr) || read == 0) break;
                beat = true;
            }
            if (!watchdog_stopped_beating(child.watch, beat, clock.now())) return;
            log("watchdog pid=" + pid + " stopped beating; ending it for a restart");
            retire_child();
        }
    }

    WatchdogLaunchFacts facts;
    facts.watchdog_running = state_.child.has_value();
    if (!facts.watchdog_running) {  // nothing else needs asking while one runs
        facts.update_pending = dependencies_.any_update_pending();
        facts.exit_announced = dependencies_.records->authorized_exit.is_announced();
        facts.console_session = active_console_session();
        // The token is only asked for in a real console session, and closed again at once.
        facts.user_token_available = facts.console_session != 0 && facts.console_session != no_console_session &&
                                     static_cast<bool>(session_user_token(facts.console_session));
        facts.next_launch = state_.next_launch;
        facts.pipe_held = static_cast<bool>(state_.held_pipe);
    }
    if (watchdog_launch_block(facts, clock.now())) return;

    auto launched = launch();
    const MonotonicTime now = clock.now();
    if (launched) {
        log("service started watchdog pid=" + std::to_string(launched->pid) + " session=" + std::to_string(launched->session_id));
        launched->launched_at = now;
        launched->watch.silence_start = now;
        state_.child = std::move(launched).value();
        state_.next_launch = now + pause_after_watchdog_start(state_.quick_exits);
    } else {
        log("watchdog start failed: " + launched.error());
        state_.quick_exits = saturating_increment(state_.quick_exits);
        state_.next_launch = now + pause_after_failed_watchdog_start(state_.quick_exits);
    }
}

void WatchdogSupervisor::stop(const LogSink& log) {
    std::lock_guard lock(lock_);
    if (!state_.child) return;
    log("watchdog pid=" + std::to_string(state_.child->pid) + " ended: service stopping");
    retire_child();
}

Result<std::string> WatchdogSupervisor::managed() {
    std::lock_guard lock(lock_);
    if (state_.held_pipe) return std::string("OK managed");
    return fail("watchdog not managed by the service");
}

Status WatchdogSupervisor::stop_for_authorized_exit(const LogSink& log) {
    if (!dependencies_.records->authorized_exit.is_announced()) return fail("no authorized exit announced");
    std::lock_guard lock(lock_);
    if (state_.child) {
        log("watchdog pid=" + std::to_string(state_.child->pid) + " ended for an authorized exit");
        retire_child();
    }
    return ok();
}

}  // namespace kv
