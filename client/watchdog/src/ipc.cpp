#include "ipc.hpp"

#include <sddl.h>

#include <chrono>
#include <thread>

#include "autostart.hpp"
#include "kiosk_controls.hpp"
#include "log_output.hpp"
#include "pipe_session.hpp"
#include "process_scan.hpp"
#include "program_control.hpp"
#include "shutdown_guard.hpp"
#include "watchdog_state.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

class StationControls final : public WatchdogControls {
public:
    explicit StationControls(PipeConnection& connection) : connection_(connection) {}

    void activate_kiosk() override { kv::activate_kiosk(); }
    void deactivate_kiosk() override { kv::deactivate_kiosk(); }
    void enable_win_key_guard() override { kv::enable_win_key_guard(); }
    void disable_win_key_guard() override { kv::disable_win_key_guard(); }
    void set_kiosk_shutdown_block(bool on) override { watchdog_state().kiosk_shutdown_block.store(on); }
    void set_shutdown_guard(bool on) override { watchdog_state().shutdown_guard.store(on); }
    void refresh_shutdown_block() override { kv::refresh_shutdown_block(); }
    void request_exit() override { watchdog_state().exit_requested.store(true); }
    void remove_autostart_entry() override { kv::remove_autostart_entry(watchdog_log()); }
    void send_exit_ack() override {
        connection_.send_line("EXIT_ACK");
        FlushFileBuffers(connection_.handle());
        SetEvent(watchdog_state().exit_acknowledged.get());
    }

private:
    PipeConnection& connection_;
};

Status connect_client(HANDLE pipe) {
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) return ok();
    return fail("ConnectNamedPipe failed: " + last_error_text());
}

bool peer_is_client(HANDLE pipe, const std::wstring& client_path, std::optional<unsigned long>& peer) {
    ULONG process_id = 0;
    if (!GetNamedPipeClientProcessId(pipe, &process_id)) return false;
    peer = process_id;
    if (process_id == 0) return false;
    const auto image = process_image_path_of(process_id);
    return image && normalise_image_path(*image) == normalise_image_path(client_path);
}

}  // namespace

std::optional<PipeMessage> PipeConnection::next_message() {
    for (;;) {
        if (!queue_.empty()) {
            PipeMessage message = std::move(queue_.front());
            queue_.pop_front();
            return message;
        }
        if (disconnected_) return std::nullopt;
        char chunk[pipe_read_size];
        DWORD read = 0;
        if (!ReadFile(pipe_, chunk, sizeof(chunk), &read, nullptr) || read == 0) {
            disconnected_ = true;
            continue;
        }
        framer_.append(std::string_view(chunk, read));
        while (auto line = framer_.next_line()) queue_.push_back(parse_framed_line(*line));
    }
}

void PipeConnection::send_line(std::string_view word) {
    const std::string line = std::string(word) + "\n";
    DWORD written = 0;
    WriteFile(pipe_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void PipeConnection::disconnect() {
    DisconnectNamedPipe(pipe_);
    framer_.clear();
    queue_.clear();
    disconnected_ = false;
}

Result<UniqueFileHandle> create_watchdog_pipe() {
    UniqueLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(watchdog_pipe_sddl, SDDL_REVISION_1,
                                                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr)) {
        return fail("SDDL conversion failed: " + last_error_text());
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    UniqueFileHandle pipe(CreateNamedPipeW(watchdog_pipe_name, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                                           &attributes));
    if (!pipe) return fail("CreateNamedPipe returned INVALID_HANDLE_VALUE");
    return pipe;
}

std::string describe_peer(std::optional<unsigned long> process_id) {
    return process_id ? "Some(" + std::to_string(*process_id) + ")" : "None";
}

bool run_pipe_session(PipeConnection& connection, const std::wstring& client_path) {
    const WatchdogLog log = watchdog_log();
    std::optional<unsigned long> peer;
    if (!peer_is_client(connection.handle(), client_path, peer)) {
        log(LogStream::err, "Refused a pipe peer that is not the client: " + describe_peer(peer));
        connection.disconnect();
        return false;
    }
    log(LogStream::out, "Client connected");
    connection.send_line("WATCHDOG_READY");
    StationControls controls(connection);
    PipeSession session(watchdog_state().session_token(), controls, log);
    while (const auto message = connection.next_message()) {
        if (session.handle(*message) == SessionStep::session_over) return true;
    }
    return true;
}

void run_standalone_pipe_server(std::wstring client_path) {
    const WatchdogLog log = watchdog_log();
    for (;;) {
        if (watchdog_state().exit_requested.load()) return;
        auto pipe = create_watchdog_pipe();
        if (!pipe) {
            log(LogStream::err, "Pipe creation failed: " + pipe.error());
            if (const auto executable = running_executable_path(); executable && find_other_instance(*executable)) {
                log(LogStream::out, "Another watchdog holds the pipe — exiting");
                end_process_early();
            }
            std::this_thread::sleep_for(std::chrono::seconds(2));
            continue;
        }
        if (const auto connected = connect_client(pipe->get()); !connected) {
            log(LogStream::err, "wait_for_client failed: " + connected.error());
            std::this_thread::sleep_for(std::chrono::seconds(1));
            continue;
        }
        PipeConnection connection(pipe->get());
        if (run_pipe_session(connection, client_path)) connection.disconnect();
    }
}

void wait_for_client(HANDLE inherited_pipe, std::wstring client_path) {
    const WatchdogLog log = watchdog_log();
    const UniqueFileHandle pipe(inherited_pipe);
    PipeConnection connection(pipe.get());
    for (;;) {
        if (watchdog_state().exit_requested.load()) return;
        // Drops a client still connected to an earlier watchdog on this handle.
        connection.disconnect();
        if (const auto connected = connect_client(pipe.get()); !connected) {
            log(LogStream::err, "wait_for_client failed: " + connected.error());
            std::this_thread::sleep_for(std::chrono::seconds(1));
            continue;
        }
        (void)run_pipe_session(connection, client_path);
    }
}

}  // namespace kv
