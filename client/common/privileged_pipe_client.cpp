#include "privileged_pipe_client.hpp"

#include "win_error.hpp"

namespace kv {

Result<PrivilegedPipeConnection> PrivilegedPipeConnection::open(const std::wstring& pipe_name,
                                                                std::chrono::milliseconds busy_limit) {
    const auto deadline = std::chrono::steady_clock::now() + busy_limit;
    for (;;) {
        UniqueFileHandle pipe(CreateFileW(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe) {
            // The service writes messages; reading in message mode keeps one reply whole.
            DWORD mode = PIPE_READMODE_MESSAGE;
            if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
                return fail("cannot set message mode: " + last_error_text());
            }
            return PrivilegedPipeConnection(std::move(pipe));
        }
        const DWORD error = GetLastError();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (error != ERROR_PIPE_BUSY || left.count() <= 0) return fail("cannot connect to the pipe: " + system_error_text(error));
        // Every instance is busy: wait for one to come free, then race the others for it.
        WaitNamedPipeW(pipe_name.c_str(), static_cast<DWORD>(std::min<long long>(left.count(), 1000)));
    }
}

Status PrivilegedPipeConnection::write_message(std::string_view bytes) {
    DWORD written = 0;
    if (!WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return fail("cannot write the request: " + last_error_text());
    }
    if (written != bytes.size()) return fail("the request was written only in part");
    return ok();
}

Result<std::string> PrivilegedPipeConnection::read_message() {
    std::string message;
    char buffer[4096];
    for (;;) {
        DWORD read = 0;
        if (ReadFile(pipe_.get(), buffer, sizeof(buffer), &read, nullptr)) {
            message.append(buffer, read);
            return message;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_MORE_DATA) return fail("cannot read the reply: " + system_error_text(error));
        message.append(buffer, read);
    }
}

Result<std::string> send_privileged_request(std::string_view request, const std::wstring& pipe_name,
                                            std::chrono::milliseconds busy_limit) {
    if (request.size() > privileged_request_limit) return fail("request longer than 512 bytes");
    auto connection = PrivilegedPipeConnection::open(pipe_name, busy_limit);
    if (!connection) return fail(connection.error());
    if (Status written = connection->write_message(request); !written) return fail(written.error());
    auto reply = connection->read_message();
    if (!reply) return fail(reply.error());
    if (reply->empty() || reply->back() != '\n') return fail("the reply is not one line: " + *reply);
    reply->pop_back();
    return std::move(reply).value();
}

}  // namespace kv
