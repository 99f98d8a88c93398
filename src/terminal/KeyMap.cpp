#include "terminal/KeyMap.h"

#include "terminal/FunctionKeys.h"

namespace terminal {

namespace {

struct Entry {
    std::uint16_t vk;
    std::uint8_t scan;
    bool ext;
};

// Set-1 scan codes of the letters A..Z on a US layout.
constexpr std::uint8_t kLetterScan[26] = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,  // A..M
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,  // N..Z
};

// Keypad keys (Qt reports them with Qt::KeypadModifier).
bool KeypadKey(int key, Entry& e)
{
    switch (key) {
    // Num Lock on: digits and the decimal point.
    case Qt::Key_0:
        e = {0x60, 0x52, false};
        return true;
    case Qt::Key_1:
        e = {0x61, 0x4F, false};
        return true;
    case Qt::Key_2:
        e = {0x62, 0x50, false};
        return true;
    case Qt::Key_3:
        e = {0x63, 0x51, false};
        return true;
    case Qt::Key_4:
        e = {0x64, 0x4B, false};
        return true;
    case Qt::Key_5:
        e = {0x65, 0x4C, false};
        return true;
    case Qt::Key_6:
        e = {0x66, 0x4D, false};
        return true;
    case Qt::Key_7:
        e = {0x67, 0x47, false};
        return true;
    case Qt::Key_8:
        e = {0x68, 0x48, false};
        return true;
    case Qt::Key_9:
        e = {0x69, 0x49, false};
        return true;
    case Qt::Key_Period:
    case Qt::Key_Comma:
        e = {0x6E, 0x53, false};
        return true;
    // Num Lock off: the same keys as cursor keys, not extended.
    case Qt::Key_Insert:
        e = {0x2D, 0x52, false};
        return true;
    case Qt::Key_End:
        e = {0x23, 0x4F, false};
        return true;
    case Qt::Key_Down:
        e = {0x28, 0x50, false};
        return true;
    case Qt::Key_PageDown:
        e = {0x22, 0x51, false};
        return true;
    case Qt::Key_Left:
        e = {0x25, 0x4B, false};
        return true;
    case Qt::Key_Clear:
        e = {0x0C, 0x4C, false};
        return true;
    case Qt::Key_Right:
        e = {0x27, 0x4D, false};
        return true;
    case Qt::Key_Home:
        e = {0x24, 0x47, false};
        return true;
    case Qt::Key_Up:
        e = {0x26, 0x48, false};
        return true;
    case Qt::Key_PageUp:
        e = {0x21, 0x49, false};
        return true;
    case Qt::Key_Delete:
        e = {0x2E, 0x53, false};
        return true;
    // Operators and Enter.
    case Qt::Key_Asterisk:
        e = {kVkMultiply, 0x37, false};
        return true;
    case Qt::Key_Plus:
        e = {0x6B, 0x4E, false};
        return true;
    case Qt::Key_Minus:
        e = {0x6D, 0x4A, false};
        return true;
    case Qt::Key_Slash:
        e = {0x6F, 0x35, true};
        return true;
    case Qt::Key_Enter:
    case Qt::Key_Return:
        e = {kVkReturn, 0x1C, true};
        return true;
    default:
        return false;
    }
}

bool MainKey(int key, Entry& e)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        e = {static_cast<std::uint16_t>(key), kLetterScan[key - Qt::Key_A], false};
        return true;
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        e = {static_cast<std::uint16_t>(key), static_cast<std::uint8_t>(0x02 + key - Qt::Key_1),
             false};
        return true;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10) {
        e = {static_cast<std::uint16_t>(kVkF1 + key - Qt::Key_F1),
             static_cast<std::uint8_t>(0x3B + key - Qt::Key_F1), false};
        return true;
    }
    if (key >= Qt::Key_F13 && key <= Qt::Key_F23) {
        e = {static_cast<std::uint16_t>(kVkF1 + 12 + key - Qt::Key_F13),
             static_cast<std::uint8_t>(0x64 + key - Qt::Key_F13), false};
        return true;
    }
    switch (key) {
    case Qt::Key_0:
        e = {0x30, 0x0B, false};
        return true;
    case Qt::Key_F11:
        e = {0x7A, 0x57, false};
        return true;
    case Qt::Key_F12:
        e = {0x7B, 0x58, false};
        return true;
    case Qt::Key_F24:
        e = {0x87, 0x76, false};
        return true;
    case Qt::Key_Backspace:
        e = {kVkBack, 0x0E, false};
        return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        e = {kVkTab, 0x0F, false};
        return true;
    case Qt::Key_Return:
        e = {kVkReturn, 0x1C, false};
        return true;
    case Qt::Key_Enter:
        e = {kVkReturn, 0x1C, true};
        return true;
    case Qt::Key_Escape:
        e = {kVkEscape, 0x01, false};
        return true;
    case Qt::Key_Space:
        e = {0x20, 0x39, false};
        return true;
    case Qt::Key_PageUp:
        e = {0x21, 0x49, true};
        return true;
    case Qt::Key_PageDown:
        e = {0x22, 0x51, true};
        return true;
    case Qt::Key_End:
        e = {0x23, 0x4F, true};
        return true;
    case Qt::Key_Home:
        e = {0x24, 0x47, true};
        return true;
    case Qt::Key_Left:
        e = {0x25, 0x4B, true};
        return true;
    case Qt::Key_Up:
        e = {0x26, 0x48, true};
        return true;
    case Qt::Key_Right:
        e = {0x27, 0x4D, true};
        return true;
    case Qt::Key_Down:
        e = {0x28, 0x50, true};
        return true;
    case Qt::Key_Insert:
        e = {0x2D, 0x52, true};
        return true;
    case Qt::Key_Delete:
        e = {0x2E, 0x53, true};
        return true;
    case Qt::Key_Print:
        e = {0x2C, 0x37, true};
        return true;
    case Qt::Key_Pause:
        e = {0x13, 0x45, false};
        return true;
    case Qt::Key_Menu:
        e = {0x5D, 0x5D, true};
        return true;
    case Qt::Key_Shift:
        e = {kVkShift, 0x2A, false};
        return true;
    case Qt::Key_Control:
        e = {kVkControl, 0x1D, false};
        return true;
    case Qt::Key_Alt:
        e = {kVkMenu, 0x38, false};
        return true;
    case Qt::Key_AltGr:
        e = {kVkMenu, 0x38, true};
        return true;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        e = {0x5B, 0x5B, true};
        return true;
    case Qt::Key_Super_R:
        e = {0x5C, 0x5C, true};
        return true;
    case Qt::Key_CapsLock:
        e = {0x14, 0x3A, false};
        return true;
    case Qt::Key_NumLock:
        e = {0x90, 0x45, false};
        return true;
    case Qt::Key_ScrollLock:
        e = {0x91, 0x46, false};
        return true;
    case Qt::Key_Dead_Circumflex:
    case Qt::Key_Dead_Diaeresis:
        e = {kVkDeadAccent, 0x1A, false};
        return true;
    // Punctuation: US positions, no virtual-key code of interest.
    case Qt::Key_Exclam:
        e = {0, 0x02, false};
        return true;
    case Qt::Key_At:
        e = {0, 0x03, false};
        return true;
    case Qt::Key_NumberSign:
        e = {0, 0x04, false};
        return true;
    case Qt::Key_Dollar:
        e = {0, 0x05, false};
        return true;
    case Qt::Key_Percent:
        e = {0, 0x06, false};
        return true;
    case Qt::Key_AsciiCircum:
        e = {0, 0x07, false};
        return true;
    case Qt::Key_Ampersand:
        e = {0, 0x08, false};
        return true;
    case Qt::Key_Asterisk:
        e = {0, 0x09, false};
        return true;
    case Qt::Key_ParenLeft:
        e = {0, 0x0A, false};
        return true;
    case Qt::Key_ParenRight:
        e = {0, 0x0B, false};
        return true;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        e = {0, 0x0C, false};
        return true;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        e = {0, 0x0D, false};
        return true;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        e = {0, 0x1A, false};
        return true;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        e = {0, 0x1B, false};
        return true;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        e = {0, 0x27, false};
        return true;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        e = {0, 0x28, false};
        return true;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        e = {0, 0x29, false};
        return true;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        e = {0, 0x2B, false};
        return true;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        e = {0, 0x33, false};
        return true;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        e = {0, 0x34, false};
        return true;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        e = {0, 0x35, false};
        return true;
    default:
        return false;
    }
}

}  // namespace

TKeyDown MapQtKey(int key, Qt::KeyboardModifiers modifiers)
{
    TKeyDown k;
    if (modifiers.testFlag(Qt::ShiftModifier)) k.ShiftState |= kShiftShift;
    if (modifiers.testFlag(Qt::AltModifier)) k.ShiftState |= kShiftAlt;
    if (modifiers.testFlag(Qt::ControlModifier)) k.ShiftState |= kShiftCtrl;

    Entry e{0, 0, false};
    const bool found = modifiers.testFlag(Qt::KeypadModifier) ? KeypadKey(key, e) || MainKey(key, e)
                                                              : MainKey(key, e);
    if (!found) return k;
    k.VirtualKey = e.vk;
    k.ScanCode = e.scan;
    k.Extended = e.ext;
    // The dead key of a French keyboard gives the diaeresis with Shift, the circumflex without.
    if (key == Qt::Key_Dead_Diaeresis) k.ShiftState |= kShiftShift;
    if (key == Qt::Key_Dead_Circumflex) k.ShiftState &= static_cast<std::uint8_t>(~kShiftShift);
    return k;
}

}  // namespace terminal
