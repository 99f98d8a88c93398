// One mapping of Qt key events onto the key-down data of a PC keyboard: the Windows virtual-key
// code, the set-1 scan code (bits 16..23 of a key-down message), the extended-key flag (bit 24)
// and the shift state (1 Shift, 2 Alt, 4 Ctrl). The terminal's function-key tables and its key
// handling speak of keys in these terms, so every platform matches them through this table
// rather than through native scan codes.
//
// Scan codes follow the US layout's key positions. Keypad keys (the Qt keypad flag) report the
// keypad's own codes: with Num Lock off the keypad's cursor keys are not extended, so they are
// told apart from the dedicated cursor block, as on a PC. Keypad '*' is scan code 0x37 without
// the extended flag (Print Screen is 0x37 extended).
//
// Virtual-key codes are given for the keys the terminal acts on by their code: Backspace, Tab,
// Enter, Escape, the cursor block, Insert, Delete, letters, digits, the keypad, function keys and
// the modifier keys. The French keyboard's circumflex/diaeresis dead key is VK 0xDD (scan code
// 0x1A): Qt reports it as Key_Dead_Circumflex or Key_Dead_Diaeresis, and the mapping gives the
// diaeresis with Shift and the circumflex without, whatever modifiers the layout needed to reach
// them. Other punctuation keys have no virtual-key code here (0): the terminal takes their
// characters from the event's text. (On a US layout Windows gives ']' the code 0xDD as well,
// which would make the terminal swallow every ']' as a dead key.)
#pragma once

#include <Qt>

#include <cstdint>

namespace terminal {

// Virtual-key codes the terminal uses.
inline constexpr std::uint16_t kVkBack = 0x08;
inline constexpr std::uint16_t kVkTab = 0x09;
inline constexpr std::uint16_t kVkReturn = 0x0D;
inline constexpr std::uint16_t kVkShift = 0x10;
inline constexpr std::uint16_t kVkControl = 0x11;
inline constexpr std::uint16_t kVkMenu = 0x12;  // Alt
inline constexpr std::uint16_t kVkEscape = 0x1B;
inline constexpr std::uint16_t kVkPrior = 0x21;  // Page Up; 0x21..0x28 is the cursor block
inline constexpr std::uint16_t kVkDown = 0x28;
inline constexpr std::uint16_t kVkMultiply = 0x6A;  // keypad '*'
inline constexpr std::uint16_t kVkF1 = 0x70;
inline constexpr std::uint16_t kVkDeadAccent = 0xDD;  // French circumflex/diaeresis dead key

struct TKeyDown {
    std::uint16_t VirtualKey = 0;  // 0: none the terminal acts on
    std::uint8_t ScanCode = 0;     // 0: unknown key
    bool Extended = false;
    std::uint8_t ShiftState = 0;  // kShiftShift | kShiftAlt | kShiftCtrl (FunctionKeys.h)
};

// The key-down data of a Qt key (QKeyEvent::key()) with its modifiers; keypad keys carry
// Qt::KeypadModifier.
TKeyDown MapQtKey(int key, Qt::KeyboardModifiers modifiers);

}  // namespace terminal
