// The glyphs of code page 437, the PC character set that screen cells hold: the Unicode character
// a view draws for each cell byte. Bytes 0x01..0x1F and 0x7F are the PC's graphic symbols (faces,
// card suits, arrows, the house); byte 0 is drawn as a blank.
#pragma once

#include <array>
#include <cstdint>

namespace terminal {

extern const std::array<char16_t, 256> Cp437ToUnicode;

}  // namespace terminal
