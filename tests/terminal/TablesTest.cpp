// The constant tables: translation maps and function keys, checked against an independent
// transcription of their rows.
#include "terminal/FunctionKeys.h"
#include "terminal/XlatTables.h"

#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

namespace {

using namespace terminal;

// Upper half of the Latin map, 16 values per row, 0xA0 to 0xFF.
const char* const kUpperRows[6] = {
    "B1 AD 9B 9C 0F 9D B3 15 20 43 A6 AE AA C4 52 C4",
    "F8 F1 FD 20 27 E6 14 FA 2C 20 A7 AF AC AB 20 A8",
    "41 41 41 41 8E 8F 92 80 45 45 45 45 45 49 49 49",
    "44 A5 4F 4F 4F 4F 4F 78 ED 55 55 55 55 59 70 E1",
    "85 A0 83 61 84 86 91 87 8A 82 88 89 8D A1 8C 49",
    "64 A4 95 A2 93 6F 94 F6 ED 97 A3 96 9A 79 70 98",
};

TEST(XlatTables, LatinToOemMatchesEveryRow)
{
    for (int i = 0; i < 0x80; ++i)
        EXPECT_EQ(LatinToOemTable[i], i) << i;
    for (int i = 0x80; i < 0xA0; ++i)
        EXPECT_EQ(LatinToOemTable[i], 0x20) << i;
    for (int row = 0; row < 6; ++row) {
        std::istringstream in(kUpperRows[row]);
        for (int col = 0; col < 16; ++col) {
            unsigned value = 0;
            in >> std::hex >> value;
            const int from = 0xA0 + row * 16 + col;
            EXPECT_EQ(LatinToOemTable[from], value) << std::hex << from;
        }
    }
    EXPECT_EQ(LatinToOemTable[0xEF], 0x49);
    EXPECT_EQ(LatinToOemTable[0xE3], 0x61);
}

TEST(XlatTables, LineGraphicsDiffersInElevenLetters)
{
    const std::pair<char, int> boxes[] = {{'j', 0xD9}, {'k', 0xBF}, {'l', 0xDA}, {'m', 0xC0},
                                          {'n', 0xC5}, {'q', 0xC4}, {'t', 0xC3}, {'u', 0xB4},
                                          {'v', 0xC1}, {'w', 0xC2}, {'x', 0xB3}};
    for (auto [letter, box] : boxes)
        EXPECT_EQ(LineGraphicsTable[letter], box) << letter;
    int differences = 0;
    for (int i = 0; i < 256; ++i)
        differences += LineGraphicsTable[i] != LatinToOemTable[i];
    EXPECT_EQ(differences, 11);
    for (int c : {0x6F, 0x70, 0x72, 0x73, 0x79, 0x7A, 0x7F})
        EXPECT_EQ(LineGraphicsTable[c], c);
}

TEST(FunctionKeys, TablesHaveTheirSizesAndNoDuplicateKeys)
{
    EXPECT_EQ(ScoFunctionKeys().size(), 47u);
    EXPECT_EQ(Vt100FunctionKeys().size(), 14u);
    EXPECT_EQ(A11FunctionKeys().size(), 23u);
    for (auto table : {ScoFunctionKeys(), Vt100FunctionKeys(), A11FunctionKeys()}) {
        std::set<std::tuple<int, int, bool>> keys;
        for (const FunctionKeyEntry& e : table) {
            EXPECT_NE(e.ScanCode, 0);
            EXPECT_LE(e.Sequence.size(), 50u);
            EXPECT_TRUE(keys.insert({e.ScanCode, e.ShiftState, e.Extended}).second)
                << std::hex << int(e.ScanCode);
        }
    }
}

std::string Sequence(int fkeys, int scan, int shift, bool ext)
{
    const FunctionKeyEntry* e = LookupFunctionKey(fkeys, static_cast<std::uint8_t>(scan),
                                                  static_cast<std::uint8_t>(shift), ext);
    return e ? "[" + std::string(e->Sequence) + "]" : "none";
}

TEST(FunctionKeys, LookupBySetScanCodeShiftAndExtendedFlag)
{
    // VT100
    EXPECT_EQ(Sequence(1, 0x3B, 0, false), "[\x1BOP]");
    EXPECT_EQ(Sequence(1, 0x49, 0, true), "[\x1B[5~]");
    EXPECT_EQ(Sequence(1, 0x58, 0, false), "[\x1B[29~]");
    EXPECT_EQ(Sequence(1, 0x53, 0, true), "[\x7F]");
    EXPECT_EQ(Sequence(1, 0x3B, 0, true), "none");             // the extended flag must match
    EXPECT_EQ(Sequence(1, 0x3B, kShiftShift, false), "none");  // so must the shift state
    EXPECT_EQ(Sequence(1, 0x47, 0, true), "none");             // no Home in this table
    // Any value other than 0 and 2 is the VT100 table.
    EXPECT_EQ(Sequence(7, 0x3B, 0, false), "[\x1BOP]");
    EXPECT_EQ(Sequence(-1, 0x57, 0, false), "[\x1B[28~]");
    // SCO
    EXPECT_EQ(Sequence(0, 0x3B, 0, false), "[\x1B[M]");
    EXPECT_EQ(Sequence(0, 0x0F, 0, false), "[\x1B[Z]");
    EXPECT_EQ(Sequence(0, 0x3B, kShiftShift, false), "[\x1B[V]");
    EXPECT_EQ(Sequence(0, 0x44, 0, false), "[\x1B[V]");
    EXPECT_EQ(Sequence(0, 0x3C, kShiftCtrl, false), "[\x1B[l]");
    EXPECT_EQ(Sequence(0, 0x86, kShiftCtrl, false), "[\x1B[v]");
    EXPECT_EQ(Sequence(0, 0x49, 0, true), "[\x1B[I]");
    EXPECT_EQ(Sequence(0, 0x51, 0, true), "[\x1B[G]");
    EXPECT_EQ(Sequence(0, 0x3B, kShiftAlt, false), "none");
    // A11
    EXPECT_EQ(Sequence(2, 0x44, 0, false), "[]");  // F10 is taken and sends nothing
    EXPECT_EQ(Sequence(2, 0x47, 0, true), "[\x1BH]");
    EXPECT_EQ(Sequence(2, 0x47, kShiftCtrl, true),
              "[\x1B"
              "C]");
    EXPECT_EQ(Sequence(2, 0x53, kShiftCtrl, true),
              "[\x1B"
              "D]");
    EXPECT_EQ(Sequence(2, 0x52, kShiftCtrl, true), "[\x1BL]");
    EXPECT_EQ(Sequence(2, 0x49, 0, true), "[\x1B-]");
    EXPECT_EQ(Sequence(2, 0x51, 0, true), "[\x1B+]");
    EXPECT_EQ(Sequence(2, 0x43, 0, false), "[\x1BOP]");
    EXPECT_EQ(Sequence(2, 0x58, 0, false), "[\x1BOS]");
    EXPECT_EQ(Sequence(2, 0x0F, 0, false), "[\x1BZ]");
    EXPECT_EQ(Sequence(2, 0x40, 0, false), "[\x1BK]");
    EXPECT_EQ(Sequence(2, 0x42, 0, false), "none");
}

TEST(FunctionKeys, KeyDefinitionLine)
{
    EXPECT_EQ(KeyDefinitionLine(1, 0x3B, 0, false), "3B, ssNormal, FALSE, '\\x1BOP'");
    EXPECT_EQ(KeyDefinitionLine(1, 0x1E, kShiftShift, false), "1E, ssShift , FALSE");
    EXPECT_EQ(KeyDefinitionLine(2, 0x47, kShiftCtrl, true), "47, ssCtrl , TRUE, '\\x1BC'");
    EXPECT_EQ(ShiftStateText(kShiftShift | kShiftAlt | kShiftCtrl | kShiftLeft | kShiftRight |
                             kShiftMiddle | kShiftDouble),
              "ssShift ssAlt ssCtrl ssLeft ssRight ssMiddle ssDouble ");
    EXPECT_EQ(EscapeForDisplay("a'\\\x7F\x80~ \x1F"), "a\\x27\\x5C\\x7F\\x80~ \\x1F");
}

TEST(FunctionKeys, DeadKeys)
{
    EXPECT_EQ(ApplyDeadKey('e', kCircumflexVowels), 0xEA);
    EXPECT_EQ(ApplyDeadKey('u', kCircumflexVowels), 0xFB);
    EXPECT_EQ(ApplyDeadKey('a', kDiaeresisVowels), 0xE4);
    EXPECT_EQ(ApplyDeadKey('i', kDiaeresisVowels), 0xEF);
    EXPECT_EQ(ApplyDeadKey('b', kCircumflexVowels), 'b');
    EXPECT_EQ(ApplyDeadKey('E', kCircumflexVowels), 'E');  // capitals have no accented form here
    EXPECT_EQ(ApplyDeadKey(0, kDiaeresisVowels), 0);
}

}  // namespace
