#include "watchdog_program.hpp"

#include <windows.h>

#include <cstdint>
#include <system_error>
#include <thread>

#include "autostart.hpp"
#include "heartbeat_link.hpp"
#include "ipc.hpp"
#include "kiosk_controls.hpp"
#include "log_output.hpp"
#include "monitor.hpp"
#include "process_scan.hpp"
#include "program_control.hpp"
#include "self_protection.hpp"
#include "session_token_file.hpp"
#include "shutdown_guard.hpp"
#include "single_instance.hpp"
#include "watchdog_arguments.hpp"
#include "watchdog_state.hpp"
#include "win_text.hpp"

namespace kv {
namespace {

// The pipe thread acknowledges an exit command after setting the flag; waiting this long
// lets the client read "EXIT_ACK" (and an uninstall finish) before the process ends.
constexpr DWORD exit_acknowledgement_limit_ms = 5000;

HANDLE handle_from(std::uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value)); }

void run_main_loop() {
    auto& state = watchdog_state();
    while (!state.exit_requested.load()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        state.loop_ticks.fetch_add(1);
        Sleep(20);
    }
}

void exit_cleanly(const WatchdogLog& log) {
    auto& state = watchdog_state();
    kiosk_teardown();
    state.kiosk_shutdown_block.store(false);
    refresh_shutdown_block();
    log(LogStream::out, "Kiosk shutdown block DISABLED");
    destroy_blocker_window();
    WaitForSingleObject(state.exit_acknowledged.get(), exit_acknowledgement_limit_ms);
    log(LogStream::out, "Exiting cleanly");
}

}  // namespace

void start_detached_thread(std::function<void()> body) {
    try {
        std::thread(std::move(body)).detach();
    } catch (const std::system_error& error) {
        write_watchdog_line(LogStream::err, std::string("Cannot start a thread: ") + error.what());
        end_process_early();
    }
}

void end_process_early() {
    if (kiosk_active()) kiosk_teardown();
    ExitProcess(0);
}

int run_watchdog(const std::vector<std::string>& arguments) {
    const WatchdogLog log = watchdog_log();
    log(LogStream::out, "Starting...");
    const WatchdogArguments parsed = parse_watchdog_arguments(arguments);
    const bool service_launched = parsed.service_launched();

    if (service_launched) {
        remove_autostart_entry(log);
    } else {
        register_autostart_entry(log);
    }

    const auto client_path = resolve_client_path();
    if (!client_path) {
        log(LogStream::err, "Cannot resolve client path: " + client_path.error());
        return 0;
    }
    log(LogStream::out, "Client exe: " + narrow(*client_path));

    SingleInstance instance = claim_single_instance(service_launched, log);
    if (instance.yield) return 0;

    apply_self_protection(log);

    const std::string token = generate_session_token(log);
    write_session_token_file(token, log);
    watchdog_state().set_session_token(token);

    create_blocker_window();

    start_detached_thread([path = *client_path] { run_monitor(path); });
    if (service_launched) {
        start_detached_thread([pipe = handle_from(*parsed.service_pipe), path = *client_path] { wait_for_client(pipe, path); });
        start_detached_thread([heartbeat = handle_from(*parsed.service_heartbeat)] { run_beat_loop(heartbeat); });
    } else {
        start_detached_thread([path = *client_path] { run_standalone_pipe_server(path); });
    }

    run_main_loop();
    exit_cleanly(log);
    return 0;
}

}  // namespace kv
