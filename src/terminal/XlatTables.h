// Character translation maps of the terminal. Screen cells hold code page 437 bytes (the PC
// character set the terminal font draws); these 256-byte tables map received or typed bytes into
// it.
#pragma once

#include <array>
#include <cstdint>

namespace terminal {

using XlatTable = std::array<std::uint8_t, 256>;

// ISO 8859-1 to the code page 437 byte of the same glyph: 0x00..0x7F unchanged, 0x80..0x9F to a
// space, the upper half to the nearest glyph (accents dropped where code page 437 has none).
extern const XlatTable LatinToOemTable;

// LatinToOemTable with the VT100 line-drawing letters j k l m n q t u v w x replaced by the code
// page 437 box-drawing characters; every other entry is the same as in LatinToOemTable.
extern const XlatTable LineGraphicsTable;

}  // namespace terminal
