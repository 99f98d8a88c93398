#include "terminal/FunctionKeys.h"

#include <array>
#include <cstdio>

namespace terminal {

namespace {

constexpr std::uint8_t k0 = 0;  // no modifier
constexpr std::uint8_t kS = kShiftShift;
constexpr std::uint8_t kC = kShiftCtrl;

// clang-format off
constexpr FunctionKeyEntry kSco[] = {
    {0x48, k0, true,  "\x1B[A"},  // Up
    {0x50, k0, true,  "\x1B[B"},  // Down
    {0x4D, k0, true,  "\x1B[C"},  // Right
    {0x4B, k0, true,  "\x1B[D"},  // Left
    {0x49, k0, true,  "\x1B[I"},  // Page Up
    {0x51, k0, true,  "\x1B[G"},  // Page Down
    {0x47, k0, true,  "\x1B[H"},  // Home
    {0x4F, k0, true,  "\x1B[F"},  // End
    {0x52, k0, true,  "\x1B[L"},  // Insert
    {0x0F, k0, false, "\x1B[Z"},  // Tab
    {0x53, k0, true,  "\x7F"},    // Delete
    // function keys: no modifier, Shift, Ctrl
    {0x3B, k0, false, "\x1B[M"}, {0x3B, kS, false, "\x1B[V"}, {0x3B, kC, false, "\x1B[k"},  // F1
    {0x3C, k0, false, "\x1B[N"}, {0x3C, kS, false, "\x1B[Z"}, {0x3C, kC, false, "\x1B[l"},  // F2
    {0x3D, k0, false, "\x1B[O"}, {0x3D, kS, false, "\x1B[a"}, {0x3D, kC, false, "\x1B[m"},  // F3
    {0x3E, k0, false, "\x1B[P"}, {0x3E, kS, false, "\x1B[b"}, {0x3E, kC, false, "\x1B[n"},  // F4
    {0x3F, k0, false, "\x1B[Q"}, {0x3F, kS, false, "\x1B[c"}, {0x3F, kC, false, "\x1B[o"},  // F5
    {0x40, k0, false, "\x1B[R"}, {0x40, kS, false, "\x1B[d"}, {0x40, kC, false, "\x1B[p"},  // F6
    {0x41, k0, false, "\x1B[S"}, {0x41, kS, false, "\x1B[e"}, {0x41, kC, false, "\x1B[q"},  // F7
    {0x42, k0, false, "\x1B[T"}, {0x42, kS, false, "\x1B[f"}, {0x42, kC, false, "\x1B[r"},  // F8
    {0x43, k0, false, "\x1B[U"}, {0x43, kS, false, "\x1B[g"}, {0x43, kC, false, "\x1B[s"},  // F9
    {0x44, k0, false, "\x1B[V"}, {0x44, kS, false, "\x1B[h"}, {0x44, kC, false, "\x1B[t"},  // F10
    {0x85, k0, false, "\x1B[W"}, {0x85, kS, false, "\x1B[i"}, {0x85, kC, false, "\x1B[u"},  // 0x85
    {0x86, k0, false, "\x1B[X"}, {0x86, kS, false, "\x1B[j"}, {0x86, kC, false, "\x1B[v"},  // 0x86
};

constexpr FunctionKeyEntry kVt100[] = {
    {0x48, k0, true,  "\x1B[A"},    // Up
    {0x50, k0, true,  "\x1B[B"},    // Down
    {0x4D, k0, true,  "\x1B[C"},    // Right
    {0x4B, k0, true,  "\x1B[D"},    // Left
    {0x49, k0, true,  "\x1B[5~"},   // Page Up
    {0x51, k0, true,  "\x1B[6~"},   // Page Down
    {0x52, k0, true,  "\x1B[2~"},   // Insert
    {0x53, k0, true,  "\x7F"},      // Delete
    {0x3B, k0, false, "\x1BOP"},    // F1
    {0x3C, k0, false, "\x1BOQ"},    // F2
    {0x3D, k0, false, "\x1BOR"},    // F3
    {0x3E, k0, false, "\x1BOS"},    // F4
    {0x57, k0, false, "\x1B[28~"},  // F11
    {0x58, k0, false, "\x1B[29~"},  // F12
};

constexpr FunctionKeyEntry kA11[] = {
    {0x48, k0, true,  "\x1B[A"},     // Up
    {0x50, k0, true,  "\x1B[B"},     // Down
    {0x4D, k0, true,  "\x1B[C"},     // Right
    {0x4B, k0, true,  "\x1B[D"},     // Left
    {0x49, k0, true,  "\x1B-"},      // Page Up
    {0x51, k0, true,  "\x1B+"},      // Page Down
    {0x47, k0, true,  "\x1BH"},      // Home
    {0x47, kC, true,  "\x1B" "C"},   // Ctrl+Home
    {0x4F, k0, true,  "\x1BR"},      // End
    {0x52, k0, true,  "\x1BI"},      // Insert
    {0x53, k0, true,  "\x7F"},       // Delete
    {0x3B, k0, false, "\x1BOP"},     // F1
    {0x3C, k0, false, "\x1BOQ"},     // F2
    {0x3D, k0, false, "\x1BOR"},     // F3
    {0x3E, k0, false, "\x1BOS"},     // F4
    {0x43, k0, false, "\x1BOP"},     // F9
    {0x44, k0, false, ""},           // F10: taken, nothing sent
    {0x57, k0, false, "\x1BOQ"},     // F11
    {0x58, k0, false, "\x1BOS"},     // F12
    {0x0F, k0, false, "\x1BZ"},      // Tab
    {0x40, k0, false, "\x1BK"},      // F6
    {0x53, kC, true,  "\x1B" "D"},   // Ctrl+Delete
    {0x52, kC, true,  "\x1BL"},      // Ctrl+Insert
};
// clang-format on

}  // namespace

std::span<const FunctionKeyEntry> ScoFunctionKeys()
{
    return kSco;
}

std::span<const FunctionKeyEntry> Vt100FunctionKeys()
{
    return kVt100;
}

std::span<const FunctionKeyEntry> A11FunctionKeys()
{
    return kA11;
}

std::span<const FunctionKeyEntry> FunctionKeyTable(int fkeys)
{
    if (fkeys == kFKeysSco) return kSco;
    if (fkeys == kFKeysA11) return kA11;
    return kVt100;
}

const FunctionKeyEntry* LookupFunctionKey(std::span<const FunctionKeyEntry> table,
                                          std::uint8_t scanCode, std::uint8_t shiftState,
                                          bool extended)
{
    for (const FunctionKeyEntry& e : table) {
        if (e.ScanCode == scanCode && e.ShiftState == shiftState && e.Extended == extended)
            return &e;
    }
    return nullptr;
}

std::uint8_t ApplyDeadKey(std::uint8_t ch, std::string_view accented)
{
    const size_t at = kDeadKeyVowels.rfind(static_cast<char>(ch));
    if (at == std::string_view::npos || at >= accented.size()) return ch;
    return static_cast<std::uint8_t>(accented[at]);
}

std::string ShiftStateText(std::uint8_t shiftState)
{
    static constexpr std::array<const char*, 7> kNames = {
        "ssShift ", "ssAlt ", "ssCtrl ", "ssLeft ", "ssRight ", "ssMiddle ", "ssDouble "};
    std::string text;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (shiftState & (1u << i)) text += kNames[i];
    }
    return text.empty() ? std::string("ssNormal") : text;
}

std::string EscapeForDisplay(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x20 || b >= 0x7F || b == '\'' || b == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string KeyDefinitionLine(int fkeys, std::uint8_t scanCode, std::uint8_t shiftState,
                              bool extended)
{
    char hex[8];
    std::snprintf(hex, sizeof(hex), "%02X", scanCode);
    std::string line = hex;
    line += ", " + ShiftStateText(shiftState) + ", " + (extended ? "TRUE" : "FALSE");
    if (const FunctionKeyEntry* e = LookupFunctionKey(fkeys, scanCode, shiftState, extended))
        line += ", '" + EscapeForDisplay(e->Sequence) + "'";
    return line;
}

}  // namespace terminal
