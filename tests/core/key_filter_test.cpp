#include "key_filter.hpp"

#include <gtest/gtest.h>

namespace kv {
namespace {

namespace k = keys;

constexpr std::uint32_t letter_a = 0x41, generic_shift = 0x10, generic_control = 0x11, alt_key = 0x12;

// The swallow table, row by row, as an operator reads it.
bool table_swallows(const KeySwitches& s, std::uint32_t vk, std::uint32_t message, bool alt, bool ctrl_after, bool shift_after) {
    const bool down = message == k::key_down || message == k::sys_key_down;
    const bool win = vk == k::left_win || vk == k::right_win;
    if (s.kiosk_active && alt && (win || vk == k::f4 || vk == k::tab || vk == k::escape)) return true;
    if (s.kiosk_active && !alt && win) return true;
    if (s.kiosk_active && vk == k::escape && down && ctrl_after) return true;
    if (s.win_key_guard && !s.kiosk_active && win) return true;
    if (s.win_key_guard && !s.kiosk_active && vk == k::escape && down && ctrl_after && !shift_after) return true;
    return false;
}

TEST(KeyFilter, TheWholeTable) {
    const std::uint32_t keys_tried[] = {k::left_win, k::right_win, k::f4,           k::tab,          k::escape,        letter_a,
                                        k::left_shift, k::right_shift, k::left_control, k::right_control, generic_shift,
                                        generic_control, alt_key};
    const std::uint32_t messages[] = {k::key_down, k::key_up, k::sys_key_down, k::sys_key_up};
    int swallowed = 0, checked = 0;
    for (int bits = 0; bits < 32; ++bits) {
        const KeySwitches s{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0};
        const bool alt = (bits & 16) != 0;
        for (const auto vk : keys_tried) {
            for (const auto message : messages) {
                const KeyVerdict v = filter_key(s, vk, message, alt);
                const bool down = message == k::key_down || message == k::sys_key_down;
                const bool watching = s.kiosk_active || s.win_key_guard;
                // Modifiers follow their left/right keys only while a switch is on.
                const bool is_shift = vk == k::left_shift || vk == k::right_shift;
                const bool is_ctrl = vk == k::left_control || vk == k::right_control;
                EXPECT_EQ(v.shift_down, watching && is_shift ? down : s.shift_down);
                EXPECT_EQ(v.ctrl_down, watching && is_ctrl ? down : s.ctrl_down);
                EXPECT_EQ(v.swallow, watching && table_swallows(s, vk, message, alt, v.ctrl_down, v.shift_down))
                    << "kiosk=" << s.kiosk_active << " guard=" << s.win_key_guard << " ctrl=" << s.ctrl_down
                    << " shift=" << s.shift_down << " alt=" << alt << " vk=" << vk << " msg=" << message;
                swallowed += v.swallow;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 32 * 13 * 4);
    EXPECT_GT(swallowed, 0);
}

struct Named {
    const char* name;
    KeySwitches switches;
    std::uint32_t vk;
    std::uint32_t message;
    bool alt;
    bool swallow;
};

TEST(KeyFilter, TheEscapesACustomerWouldTry) {
    const KeySwitches kiosk{true, false, false, false};
    const KeySwitches kiosk_ctrl{true, false, true, false};
    const KeySwitches kiosk_ctrl_shift{true, false, true, true};
    const KeySwitches guard{false, true, false, false};
    const KeySwitches guard_ctrl{false, true, true, false};
    const KeySwitches guard_ctrl_shift{false, true, true, true};
    const KeySwitches off_ctrl{false, false, true, false};
    const Named cases[] = {
        {"kiosk: Windows key down", kiosk, k::left_win, k::key_down, false, true},
        {"kiosk: right Windows key up", kiosk, k::right_win, k::key_up, false, true},
        {"kiosk: Alt+Tab", kiosk, k::tab, k::sys_key_down, true, true},
        {"kiosk: Alt+Tab release", kiosk, k::tab, k::sys_key_up, true, true},
        {"kiosk: Alt+Esc", kiosk, k::escape, k::sys_key_down, true, true},
        {"kiosk: Alt+F4", kiosk, k::f4, k::sys_key_down, true, true},
        {"kiosk: Ctrl+Esc", kiosk_ctrl, k::escape, k::key_down, false, true},
        {"kiosk: Ctrl+Shift+Esc", kiosk_ctrl_shift, k::escape, k::key_down, false, true},
        {"kiosk: Ctrl+Esc release passes", kiosk_ctrl, k::escape, k::key_up, false, false},
        {"kiosk: plain Tab", kiosk, k::tab, k::key_down, false, false},
        {"kiosk: plain Esc", kiosk, k::escape, k::key_down, false, false},
        {"kiosk: plain F4", kiosk, k::f4, k::key_down, false, false},
        {"kiosk: a letter", kiosk, letter_a, k::key_down, false, false},
        {"kiosk: Alt+letter", kiosk, letter_a, k::sys_key_down, true, false},
        {"guard: Windows key", guard, k::left_win, k::key_down, false, true},
        {"guard: Ctrl+Esc", guard_ctrl, k::escape, k::key_down, false, true},
        {"guard: Ctrl+Shift+Esc passes", guard_ctrl_shift, k::escape, k::key_down, false, false},
        {"guard: Alt+Tab passes", guard, k::tab, k::sys_key_down, true, false},
        {"guard: Alt+F4 passes", guard, k::f4, k::sys_key_down, true, false},
        {"off: Windows key passes", {}, k::left_win, k::key_down, false, false},
        {"off: Ctrl+Esc passes", off_ctrl, k::escape, k::key_down, false, false},
        {"kiosk with guard: Ctrl+Shift+Esc", {true, true, true, true}, k::escape, k::key_down, false, true},
    };
    for (const auto& c : cases) EXPECT_EQ(filter_key(c.switches, c.vk, c.message, c.alt).swallow, c.swallow) << c.name;
}

TEST(KeyFilter, ModifiersAreTrackedOnlyWhileASwitchIsOn) {
    // Ctrl pressed while both switches were off is not seen; the later Esc passes.
    KeySwitches s{};
    KeyVerdict v = filter_key(s, k::left_control, k::key_down, false);
    EXPECT_FALSE(v.ctrl_down);
    s.kiosk_active = true;
    v = filter_key(s, k::escape, k::key_down, false);
    EXPECT_FALSE(v.swallow);
    // Pressed with the switch on, released again: tracked both ways.
    v = filter_key(s, k::right_control, k::key_down, false);
    EXPECT_TRUE(v.ctrl_down);
    s.ctrl_down = v.ctrl_down;
    EXPECT_TRUE(filter_key(s, k::escape, k::key_down, false).swallow);
    v = filter_key(s, k::right_control, k::key_up, false);
    EXPECT_FALSE(v.ctrl_down);
    // The generic codes are not the ones tracked.
    EXPECT_FALSE(filter_key(KeySwitches{true, false, false, false}, generic_control, k::key_down, false).ctrl_down);
}

}  // namespace
}  // namespace kv
