#pragma once
// Which keys the low-level keyboard hook swallows. Pure: the hook procedure feeds it the
// switches and one key event and stores the modifier state it hands back.
#include <cstdint>

namespace kv {

// Virtual-key codes and messages as Windows defines them (checked against <windows.h> in
// the Windows tests), so this builds without Windows.
namespace keys {
inline constexpr std::uint32_t tab = 0x09, escape = 0x1B, left_win = 0x5B, right_win = 0x5C, f4 = 0x73;
inline constexpr std::uint32_t left_shift = 0xA0, right_shift = 0xA1, left_control = 0xA2, right_control = 0xA3;
inline constexpr std::uint32_t key_down = 0x0100, key_up = 0x0101, sys_key_down = 0x0104, sys_key_up = 0x0105;
inline constexpr std::uint32_t alt_down_flag = 0x20;  // LLKHF_ALTDOWN
}  // namespace keys

struct KeySwitches {
    bool kiosk_active = false;
    bool win_key_guard = false;
    bool ctrl_down = false;
    bool shift_down = false;

    bool operator==(const KeySwitches&) const = default;
};

struct KeyVerdict {
    bool swallow = false;
    bool ctrl_down = false;   // modifier state to keep for the next event
    bool shift_down = false;
};

// With both switches off nothing is tracked or swallowed.
KeyVerdict filter_key(const KeySwitches& switches, std::uint32_t virtual_key, std::uint32_t message, bool alt_down);

}  // namespace kv
