// What the terminal sends for function and cursor keys, in three selectable tables (SCO, VT100,
// A11), the French dead-key accents, and the text of a key-definition line. Keys are named by
// their set-1 keyboard scan code (bits 16..23 of a key-down message), the extended-key flag
// (bit 24) and the exact modifier state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace terminal {

// Shift state bits, in the order of the key-definition text.
inline constexpr std::uint8_t kShiftShift = 0x01;
inline constexpr std::uint8_t kShiftAlt = 0x02;
inline constexpr std::uint8_t kShiftCtrl = 0x04;
inline constexpr std::uint8_t kShiftLeft = 0x08;   // mouse buttons and double click: they only
inline constexpr std::uint8_t kShiftRight = 0x10;  // appear in key-definition texts
inline constexpr std::uint8_t kShiftMiddle = 0x20;
inline constexpr std::uint8_t kShiftDouble = 0x40;

struct FunctionKeyEntry {
    std::uint8_t ScanCode;
    std::uint8_t ShiftState;  // must equal the current state exactly
    bool Extended;
    std::string_view Sequence;  // at most 50 bytes; may be empty (the key is taken, nothing sent)
};

// FKeys values of the tables; any other value selects the VT100 table.
inline constexpr int kFKeysSco = 0;
inline constexpr int kFKeysVt100 = 1;
inline constexpr int kFKeysA11 = 2;

std::span<const FunctionKeyEntry> ScoFunctionKeys();
std::span<const FunctionKeyEntry> Vt100FunctionKeys();
std::span<const FunctionKeyEntry> A11FunctionKeys();
// The table for an FKeys value: 0 SCO, 2 A11, anything else VT100.
std::span<const FunctionKeyEntry> FunctionKeyTable(int fkeys);

// The first entry of the table that matches all three, or nullptr.
const FunctionKeyEntry* LookupFunctionKey(std::span<const FunctionKeyEntry> table,
                                          std::uint8_t scanCode, std::uint8_t shiftState,
                                          bool extended);
inline const FunctionKeyEntry* LookupFunctionKey(int fkeys, std::uint8_t scanCode,
                                                 std::uint8_t shiftState, bool extended)
{
    return LookupFunctionKey(FunctionKeyTable(fkeys), scanCode, shiftState, extended);
}

// Dead keys: a pending accent turns the next vowel into its accented ISO 8859-1 byte.
inline constexpr std::string_view kDeadKeyVowels = "aeiou";
inline constexpr std::string_view kCircumflexVowels = "\xE2\xEA\xEE\xF4\xFB";  // â ê î ô û
inline constexpr std::string_view kDiaeresisVowels = "\xE4\xEB\xEF\xF6\xFC";   // ä ë ï ö ü
// ch looked up in kDeadKeyVowels (from the end); when found, the byte at the same position of
// accented, else ch unchanged.
std::uint8_t ApplyDeadKey(std::uint8_t ch, std::string_view accented);

// "ssShift ssAlt ssCtrl ..." for the members present (each with its trailing space), or
// "ssNormal" for none.
std::string ShiftStateText(std::uint8_t shiftState);
// Bytes below 0x20, from 0x7F up, the single quote and the backslash as \xHH; others as they are.
std::string EscapeForDisplay(std::string_view bytes);
// The key-definition line of a key: "3B, ssNormal, FALSE, '\x1BOP'" (the quoted part only when the
// table of fkeys has an entry for the key).
std::string KeyDefinitionLine(int fkeys, std::uint8_t scanCode, std::uint8_t shiftState,
                              bool extended);

}  // namespace terminal
