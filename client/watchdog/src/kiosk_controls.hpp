#pragma once
// Kiosk mode (taskbar hidden, Task Manager disabled, escape keys swallowed) and the lighter
// Windows-key guard. Safe to call from the pipe thread and the main thread.
#include <windows.h>

namespace kv {

inline constexpr wchar_t task_manager_policy_key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
inline constexpr wchar_t task_manager_policy_value[] = L"DisableTaskMgr";

void activate_kiosk();
void deactivate_kiosk();
void enable_win_key_guard();
void disable_win_key_guard();

// Everything back as it was: taskbar shown, policy removed, the hook thread asked to quit.
void kiosk_teardown();

bool kiosk_active();

void set_task_manager_disabled(bool disabled);

// The low-level hook's procedure, exposed for the tests.
LRESULT CALLBACK keyboard_hook_procedure(int code, WPARAM message, LPARAM event);

}  // namespace kv
