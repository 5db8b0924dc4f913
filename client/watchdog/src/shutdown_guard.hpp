#pragma once
// The hidden top-level window that Windows asks before it ends the session, and that refuses
// while the guard is active.
#include <windows.h>

#include <functional>

namespace kv {

inline constexpr wchar_t blocker_window_class[] = L"KestrivonWatchdogBlocker";
inline constexpr wchar_t blocker_window_title[] = L"Kestrivon Watchdog";
inline constexpr wchar_t shutdown_block_reason[] = L"Kestrivon is protecting this station";
// Posted to the window by other threads: the reason may only be set on the window's thread.
inline constexpr UINT refresh_block_reason_message = WM_APP + 1;

// Registers the reason text for the window (guard active) or removes it; called on the
// window's thread only. Failures are ignored.
using BlockReasonSetter = std::function<void(HWND window, bool guard_active)>;

// ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy.
void set_system_block_reason(HWND window, bool guard_active);

// On the main thread, whose message loop serves the window. The window is never shown and
// has no taskbar button; the setter travels with it.
void create_blocker_window(BlockReasonSetter set_reason = set_system_block_reason);

// Brings the reason in line with the switches: at once on the window's thread, otherwise
// through a message to it. Does nothing without a window.
void refresh_shutdown_block();

// Takes the window out of the shared state and destroys it.
void destroy_blocker_window();

bool shutdown_guard_active();

LRESULT CALLBACK blocker_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kv
