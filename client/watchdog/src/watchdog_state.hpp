#pragma once
// Process-wide state of the watchdog, shared between its threads without locks.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "unique_resource.hpp"

namespace kv {

struct WatchdogState {
    std::atomic<bool> exit_requested{false};
    std::atomic<std::uint64_t> loop_ticks{0};
    // Shutdown-guard switches; the guard is active while either is set.
    std::atomic<bool> kiosk_shutdown_block{false};
    std::atomic<bool> shutdown_guard{false};
    std::atomic<HWND> blocker_window{nullptr};
    // Signalled once an exit command has been acknowledged on the pipe, so the process does
    // not end under the pipe thread before the client has its "EXIT_ACK".
    UniqueHandle exit_acknowledged{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    // Set once before any thread starts, never changed afterwards.
    const std::string& session_token() const { return session_token_; }
    void set_session_token(std::string token) { session_token_ = std::move(token); }

private:
    std::string session_token_;
};

WatchdogState& watchdog_state();

}  // namespace kv
