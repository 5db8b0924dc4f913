#pragma once
// The watchdog pipe: the client's line commands, served one connection at a time.
#include <windows.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "line_framer.hpp"
#include "pipe_message.hpp"
#include "result.hpp"
#include "unique_resource.hpp"

namespace kv {

inline constexpr wchar_t watchdog_pipe_name[] = L"\\\\.\\pipe\\kestrivon-watchdog";
// The owner and SYSTEM only; nobody else may even open it.
inline constexpr wchar_t watchdog_pipe_sddl[] = L"D:P(A;;GA;;;OW)(A;;GA;;;SY)";
inline constexpr DWORD pipe_read_size = 1024;

// One served connection on a pipe handle it does not own.
class PipeConnection {
public:
    explicit PipeConnection(HANDLE pipe) : pipe_(pipe) {}

    // The next parsed message, reading when none is queued; none once the peer is gone.
    std::optional<PipeMessage> next_message();
    // One line in one write; a failed write is ignored.
    void send_line(std::string_view word);
    // Drops the peer (a failure is ignored) and forgets everything pending.
    void disconnect();
    HANDLE handle() const { return pipe_; }

private:
    HANDLE pipe_;
    LineFramer framer_;
    std::deque<PipeMessage> queue_;
    bool disconnected_ = false;
};

// A fresh first instance of the pipe in standalone mode.
Result<UniqueFileHandle> create_watchdog_pipe();

// "Some(1234)" or "None", as the refusal line shows a peer.
std::string describe_peer(std::optional<unsigned long> process_id);

// Serves one connected peer; false when it was refused as not being the client.
bool run_pipe_session(PipeConnection& connection, const std::wstring& client_path);

// Thread bodies: standalone mode makes its own pipe instances; service-launched mode serves
// the inherited server handle the service passed.
void run_standalone_pipe_server(std::wstring client_path);
void wait_for_client(HANDLE inherited_pipe, std::wstring client_path);

}  // namespace kv
