#include "key_filter.hpp"

namespace kv {

KeyVerdict filter_key(const KeySwitches& switches, std::uint32_t virtual_key, std::uint32_t message, bool alt_down) {
    KeyVerdict verdict{false, switches.ctrl_down, switches.shift_down};
    if (!switches.kiosk_active && !switches.win_key_guard) return verdict;

    const bool down = message == keys::key_down || message == keys::sys_key_down;
    if (virtual_key == keys::left_shift || virtual_key == keys::right_shift) verdict.shift_down = down;
    if (virtual_key == keys::left_control || virtual_key == keys::right_control) verdict.ctrl_down = down;

    const bool windows_key = virtual_key == keys::left_win || virtual_key == keys::right_win;
    const bool escape_down = virtual_key == keys::escape && down;
    if (switches.kiosk_active) {
        if (windows_key) verdict.swallow = true;
        // Alt+Tab, Alt+Esc, Alt+F4 (and Alt with a Windows key), down and up alike.
        if (alt_down && (virtual_key == keys::f4 || virtual_key == keys::tab || virtual_key == keys::escape)) verdict.swallow = true;
        // Ctrl+Esc and Ctrl+Shift+Esc (Start menu, Task Manager).
        if (escape_down && verdict.ctrl_down) verdict.swallow = true;
    } else {
        if (windows_key) verdict.swallow = true;
        // The lighter guard keeps Ctrl+Shift+Esc for the attendant.
        if (escape_down && verdict.ctrl_down && !verdict.shift_down) verdict.swallow = true;
    }
    return verdict;
}

}  // namespace kv
