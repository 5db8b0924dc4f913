#pragma once
// The station client's side of the service's privileged pipe: connect, write one request,
// read one reply line, close. A second request needs a new connection.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "result.hpp"
#include "unique_resource.hpp"

namespace kv {

inline constexpr wchar_t privileged_pipe_name[] = L"\\\\.\\pipe\\kestrivon-privileged";

// The service reads one message of at most this many bytes; a longer one is refused.
inline constexpr std::size_t privileged_request_limit = 512;

// One connection, for callers that need the steps apart (tests of the framing, say).
class PrivilegedPipeConnection {
public:
    // Waits up to `busy_limit` while every instance of the pipe serves someone else.
    static Result<PrivilegedPipeConnection> open(const std::wstring& pipe_name, std::chrono::milliseconds busy_limit);

    // One message, as given (no limit is checked here).
    Status write_message(std::string_view bytes);

    // The whole next message as the service wrote it; fails once the service has closed.
    Result<std::string> read_message();

    HANDLE handle() const { return pipe_.get(); }

private:
    explicit PrivilegedPipeConnection(UniqueFileHandle pipe) : pipe_(std::move(pipe)) {}
    UniqueFileHandle pipe_;
};

// The whole exchange. Returns the reply line without its LF ("OK", "OK 42", "ERR ...");
// an error when the request is too long, the pipe is unreachable or the reply is no line.
Result<std::string> send_privileged_request(std::string_view request, const std::wstring& pipe_name = privileged_pipe_name,
                                            std::chrono::milliseconds busy_limit = std::chrono::seconds(5));

}  // namespace kv
