#pragma once
// The message-only window that refuses the end of the session while the guard is active.
#include <windows.h>

namespace kv {

inline constexpr char blocker_window_class[] = "KestrivonWatchdogBlocker";
inline constexpr char blocker_window_title[] = "Kestrivon Watchdog";
inline constexpr wchar_t shutdown_block_reason[] = L"Kestrivon is protecting this station";

// On the main thread, whose message loop serves the window.
void create_blocker_window();

// Registers the reason text while the guard is active, removes it otherwise.
void refresh_shutdown_block();

// Takes the window out of the shared state and destroys it.
void destroy_blocker_window();

bool shutdown_guard_active();

LRESULT CALLBACK blocker_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kv
