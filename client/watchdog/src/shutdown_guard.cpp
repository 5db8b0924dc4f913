#include "shutdown_guard.hpp"

#include <memory>

#include "kiosk_controls.hpp"
#include "log_output.hpp"
#include "watchdog_state.hpp"

namespace kv {
namespace {

BlockReasonSetter* setter_of(HWND window) {
    return reinterpret_cast<BlockReasonSetter*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void apply_block_reason(HWND window) {
    if (BlockReasonSetter* set_reason = setter_of(window)) (*set_reason)(window, shutdown_guard_active());
}

}  // namespace

bool shutdown_guard_active() {
    const auto& state = watchdog_state();
    return state.kiosk_shutdown_block.load() || state.shutdown_guard.load();
}

void set_system_block_reason(HWND window, bool guard_active) {
    if (guard_active) {
        ShutdownBlockReasonCreate(window, shutdown_block_reason);
    } else {
        ShutdownBlockReasonDestroy(window);
    }
}

LRESULT CALLBACK blocker_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            if (shutdown_guard_active()) {
                write_watchdog_line(LogStream::out, "Blocked WM_QUERYENDSESSION (shutdown protection active)");
                return 0;
            }
            write_watchdog_line(LogStream::out, "Allowed WM_QUERYENDSESSION");
            return 1;
        case WM_ENDSESSION:
            // Whether or not the session really ends, the desktop must not stay locked.
            kiosk_teardown();
            return 0;
        case refresh_block_reason_message:
            // The switches are read now, so the last of several posts leaves the right state.
            apply_block_reason(window);
            return 0;
        case WM_NCDESTROY: {
            const std::unique_ptr<BlockReasonSetter> owned(setter_of(window));
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return DefWindowProcW(window, message, wparam, lparam);
        }
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

void create_blocker_window(BlockReasonSetter set_reason) {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = blocker_window_procedure;
    window_class.hInstance = module;
    window_class.lpszClassName = blocker_window_class;
    RegisterClassW(&window_class);
    // Top-level, because Windows asks only top-level windows before the session ends; a
    // message-only window would never be asked. Never made visible.
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, blocker_window_class, blocker_window_title, WS_POPUP, 0, 0, 0, 0, nullptr,
                                        nullptr, module, nullptr);
    if (window == nullptr) {
        write_watchdog_line(LogStream::err, "Failed to create shutdown blocker window");
        return;
    }
    auto setter = std::make_unique<BlockReasonSetter>(std::move(set_reason));
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(setter.release()));  // freed at WM_NCDESTROY
    watchdog_state().blocker_window.store(window);
    write_watchdog_line(LogStream::out, "Shutdown blocker window created");
}

void refresh_shutdown_block() {
    const HWND window = watchdog_state().blocker_window.load();
    if (window == nullptr) return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        apply_block_reason(window);
    } else {
        PostMessageW(window, refresh_block_reason_message, 0, 0);
    }
}

void destroy_blocker_window() {
    if (const HWND window = watchdog_state().blocker_window.exchange(nullptr)) DestroyWindow(window);
}

}  // namespace kv
