#include "shutdown_guard.hpp"

#include "kiosk_controls.hpp"
#include "log_output.hpp"
#include "watchdog_state.hpp"

namespace kv {

bool shutdown_guard_active() {
    const auto& state = watchdog_state();
    return state.kiosk_shutdown_block.load() || state.shutdown_guard.load();
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
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

void create_blocker_window() {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = blocker_window_procedure;
    window_class.hInstance = module;
    window_class.lpszClassName = blocker_window_class;
    RegisterClassA(&window_class);
    const HWND window = CreateWindowExA(0, blocker_window_class, blocker_window_title, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                                        nullptr);
    if (window == nullptr) {
        write_watchdog_line(LogStream::err, "Failed to create shutdown blocker window");
        return;
    }
    watchdog_state().blocker_window.store(window);
    write_watchdog_line(LogStream::out, "Shutdown blocker window created");
}

void refresh_shutdown_block() {
    const HWND window = watchdog_state().blocker_window.load();
    if (window == nullptr) return;
    if (shutdown_guard_active()) {
        ShutdownBlockReasonCreate(window, shutdown_block_reason);
    } else {
        ShutdownBlockReasonDestroy(window);
    }
}

void destroy_blocker_window() {
    if (const HWND window = watchdog_state().blocker_window.exchange(nullptr)) DestroyWindow(window);
}

}  // namespace kv
