#pragma once
// A client connection to a named pipe whose every wait has a time-out: overlapped reads and
// writes that are cancelled when their time is up.
#include <windows.h>

#include <chrono>
#include <string>
#include <string_view>

#include "station_answer.hpp"
#include "unique_resource.hpp"

namespace kv::station {

class PipeConnection {
public:
    // Connects; while every instance serves someone else, waits up to `busy_timeout` for one.
    // KV_ERR_NO_PIPE when the name does not exist, KV_ERR_BUSY when no instance came free.
    static Outcome<PipeConnection> open(const std::wstring& name, std::chrono::milliseconds busy_timeout);

    // For message pipes: each read returns at most one message.
    Answer use_message_mode();

    // All bytes in one write.
    Answer write(std::string_view bytes, std::chrono::milliseconds timeout);

    // Appends what the next read brings (one message, or the part that fits, in message mode).
    // `complete` tells whether a message ended there. KV_ERR_TIMEOUT when nothing came,
    // KV_ERR_CLOSED when the other side has closed.
    Answer read(std::string& into, std::chrono::milliseconds timeout, bool& complete);

    // One whole message, however many reads it takes, within `timeout` in all.
    Answer read_message(std::string& into, std::chrono::milliseconds timeout);

    HANDLE handle() const { return pipe_.get(); }

private:
    PipeConnection(UniqueFileHandle pipe, UniqueHandle event) : pipe_(std::move(pipe)), event_(std::move(event)) {}
    // Waits for the overlapped operation; cancels it when `timeout` passes first.
    Answer finish(OVERLAPPED& operation, BOOL started, std::chrono::milliseconds timeout, DWORD& transferred, bool& more_data,
                  const char* what);

    UniqueFileHandle pipe_;
    UniqueHandle event_;
};

// The pipe errors that mean the other side has gone: it closed or disconnected us.
bool means_closed(DWORD error);

}  // namespace kv::station
