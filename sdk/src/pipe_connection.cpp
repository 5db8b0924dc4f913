#include "pipe_connection.hpp"

#include <algorithm>

#include "win_error.hpp"
#include "win_text.hpp"

namespace kv::station {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

DWORD wait_ms(milliseconds timeout) { return static_cast<DWORD>(std::clamp<long long>(timeout.count(), 0, 0x7FFFFFFF)); }

std::string ms_text(milliseconds timeout) { return std::to_string(timeout.count()) + " ms"; }

Answer failed(const char* what, DWORD error) {
    return answer(means_closed(error) ? KV_ERR_CLOSED : KV_ERR_SYSTEM, std::string("cannot ") + what + ": " + system_error_text(error));
}

}  // namespace

bool means_closed(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

Outcome<PipeConnection> PipeConnection::open(const std::wstring& name, milliseconds busy_timeout) {
    const auto deadline = Clock::now() + busy_timeout;
    for (;;) {
        UniqueFileHandle pipe(
            CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (pipe) {
            UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!event) return answer(KV_ERR_SYSTEM, "cannot create an event: " + last_error_text());
            return PipeConnection(std::move(pipe), std::move(event));
        }
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return answer(KV_ERR_NO_PIPE, "cannot connect to " + narrow(name) + ": " + system_error_text(error));
        }
        if (error != ERROR_PIPE_BUSY) return answer(KV_ERR_SYSTEM, "cannot connect to " + narrow(name) + ": " + system_error_text(error));
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return answer(KV_ERR_BUSY, "every instance of " + narrow(name) + " stayed busy for " + ms_text(busy_timeout));
        }
        // Wait for an instance to come free, then race the other waiting clients for it.
        WaitNamedPipeW(name.c_str(), std::min<DWORD>(wait_ms(left), 1000));
    }
}

Answer PipeConnection::use_message_mode() {
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (SetNamedPipeHandleState(pipe_.get(), &mode, nullptr, nullptr)) return answer(KV_OK, "");
    const DWORD error = GetLastError();
    if (means_closed(error)) return answer(KV_ERR_CLOSED, "the pipe closed the connection: " + system_error_text(error));
    return answer(KV_ERR_SYSTEM, "cannot set message mode: " + system_error_text(error));
}

Answer PipeConnection::finish(OVERLAPPED& operation, BOOL started, milliseconds timeout, DWORD& transferred, bool& more_data,
                              const char* what) {
    more_data = false;
    // A message longer than the buffer completes at once, with ERROR_MORE_DATA.
    const DWORD start_error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && start_error != ERROR_IO_PENDING && start_error != ERROR_MORE_DATA) return failed(what, start_error);
    bool timed_out = false;
    if (WaitForSingleObject(operation.hEvent, wait_ms(timeout)) != WAIT_OBJECT_0) {
        // The operation must be over before `operation` goes out of scope.
        CancelIoEx(pipe_.get(), &operation);
        timed_out = true;
    }
    if (GetOverlappedResult(pipe_.get(), &operation, &transferred, TRUE)) return answer(KV_OK, "");
    const DWORD error = GetLastError();
    if (error == ERROR_MORE_DATA) {
        more_data = true;
        return answer(KV_OK, "");
    }
    if (timed_out && error == ERROR_OPERATION_ABORTED) return answer(KV_ERR_TIMEOUT, std::string("cannot ") + what + " within " + ms_text(timeout));
    return failed(what, error);
}

Answer PipeConnection::write(std::string_view bytes, milliseconds timeout) {
    OVERLAPPED operation{};
    operation.hEvent = event_.get();
    ResetEvent(event_.get());
    const BOOL started = WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &operation);
    DWORD written = 0;
    bool more_data = false;
    Answer result = finish(operation, started, timeout, written, more_data, "write to the pipe");
    if (result.ok() && written != bytes.size()) return answer(KV_ERR_SYSTEM, "the pipe took only part of the write");
    return result;
}

Answer PipeConnection::read(std::string& into, milliseconds timeout, bool& complete) {
    char buffer[4096];
    OVERLAPPED operation{};
    operation.hEvent = event_.get();
    ResetEvent(event_.get());
    const BOOL started = ReadFile(pipe_.get(), buffer, sizeof(buffer), nullptr, &operation);
    DWORD read = 0;
    bool more_data = false;
    Answer result = finish(operation, started, timeout, read, more_data, "read from the pipe");
    if (!result.ok()) return result;
    complete = !more_data;
    into.append(buffer, read);
    if (read == 0 && complete) return answer(KV_ERR_CLOSED, "the pipe closed the connection");
    return result;
}

Answer PipeConnection::read_message(std::string& into, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        bool complete = true;
        Answer result = read(into, left, complete);
        if (!result.ok() || complete) return result;
    }
}

}  // namespace kv::station
