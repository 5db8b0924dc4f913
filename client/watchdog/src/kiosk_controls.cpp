#include "kiosk_controls.hpp"

#include <atomic>
#include <string>

#include "program_control.hpp"
#include "key_filter.hpp"
#include "log_output.hpp"
#include "unique_resource.hpp"
#include "win_error.hpp"

namespace kv {
namespace {

std::atomic<bool> kiosk_on{false};
std::atomic<bool> win_key_guard_on{false};
std::atomic<bool> ctrl_down{false};
std::atomic<bool> shift_down{false};
std::atomic<bool> hook_thread_started{false};
std::atomic<HHOOK> hook{nullptr};
std::atomic<DWORD> hook_thread_id{0};

void show_taskbar(bool show) {
    const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    if (taskbar == nullptr) return;  // no shell taskbar (another shell, or none at all)
    ShowWindow(taskbar, show ? SW_SHOW : SW_HIDE);
    write_watchdog_line(LogStream::out, std::string("Taskbar ") + (show ? "shown" : "hidden"));
}

void release_modifiers() {
    ctrl_down.store(false);
    shift_down.store(false);
}

void run_hook_thread() {
    const HHOOK installed = SetWindowsHookExW(WH_KEYBOARD_LL, keyboard_hook_procedure, nullptr, 0);
    if (installed == nullptr) {
        write_watchdog_line(LogStream::err, "Failed to install keyboard hook");
        hook_thread_started.store(false);
        return;
    }
    hook.store(installed);
    hook_thread_id.store(GetCurrentThreadId());
    write_watchdog_line(LogStream::out, "Keyboard hook installed (dedicated message-loop thread)");
    // Windows calls the hook procedure through this thread's message loop.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (const HHOOK removed = hook.exchange(nullptr)) UnhookWindowsHookEx(removed);
    hook_thread_id.store(0);
    hook_thread_started.store(false);
    write_watchdog_line(LogStream::out, "Keyboard hook removed (thread exit)");
}

void start_keyboard_hook() {
    bool expected = false;
    if (!hook_thread_started.compare_exchange_strong(expected, true)) return;
    start_detached_thread(run_hook_thread);
}

}  // namespace

LRESULT CALLBACK keyboard_hook_procedure(int code, WPARAM message, LPARAM event) {
    if (code < 0) return CallNextHookEx(nullptr, code, message, event);
    const KeySwitches switches{kiosk_on.load(), win_key_guard_on.load(), ctrl_down.load(), shift_down.load()};
    if (!switches.kiosk_active && !switches.win_key_guard) return CallNextHookEx(nullptr, code, message, event);
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(event);
    const KeyVerdict verdict =
        filter_key(switches, key->vkCode, static_cast<std::uint32_t>(message), (key->flags & LLKHF_ALTDOWN) != 0);
    // Only a modifier event writes its modifier, so a concurrent activation's reset stands.
    if (key->vkCode == VK_LSHIFT || key->vkCode == VK_RSHIFT) shift_down.store(verdict.shift_down);
    if (key->vkCode == VK_LCONTROL || key->vkCode == VK_RCONTROL) ctrl_down.store(verdict.ctrl_down);
    if (verdict.swallow) return 1;
    return CallNextHookEx(nullptr, code, message, event);
}

bool kiosk_active() { return kiosk_on.load(); }

void set_task_manager_disabled(bool disabled) {
    UniqueRegistryKey policy;
    if (disabled) {
        const LSTATUS created = RegCreateKeyExW(HKEY_CURRENT_USER, task_manager_policy_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                policy.put(), nullptr);
        if (created != ERROR_SUCCESS) {
            write_watchdog_line(LogStream::err, "Failed to disable Task Manager: " + system_error_text(static_cast<DWORD>(created)));
            return;
        }
        const DWORD one = 1;
        RegSetValueExW(policy.get(), task_manager_policy_value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        write_watchdog_line(LogStream::out, "Task Manager disabled");
        return;
    }
    if (RegOpenKeyExW(HKEY_CURRENT_USER, task_manager_policy_key, 0, KEY_SET_VALUE, policy.put()) != ERROR_SUCCESS) return;
    RegDeleteValueW(policy.get(), task_manager_policy_value);
    write_watchdog_line(LogStream::out, "Task Manager enabled");
}

void activate_kiosk() {
    release_modifiers();
    kiosk_on.store(true);
    show_taskbar(false);
    start_keyboard_hook();
    set_task_manager_disabled(true);
    write_watchdog_line(LogStream::out, "Kiosk mode ACTIVATED");
}

void deactivate_kiosk() {
    kiosk_on.store(false);
    show_taskbar(true);
    set_task_manager_disabled(false);
    write_watchdog_line(LogStream::out, "Kiosk mode DEACTIVATED");
}

void enable_win_key_guard() {
    release_modifiers();
    start_keyboard_hook();
    win_key_guard_on.store(true);
}

void disable_win_key_guard() { win_key_guard_on.store(false); }

void kiosk_teardown() {
    win_key_guard_on.store(false);
    kiosk_on.store(false);
    show_taskbar(true);
    set_task_manager_disabled(false);
    write_watchdog_line(LogStream::out, "Kiosk mode DEACTIVATED");
    if (const DWORD thread = hook_thread_id.load(); thread != 0) {
        PostThreadMessageW(thread, WM_QUIT, 0, 0);
        write_watchdog_line(LogStream::out, "Keyboard hook removal requested");
    }
}

}  // namespace kv
