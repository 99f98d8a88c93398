#pragma once

// Conventions shared by the RTF reader and writer: units and list numbering.
#include <QTextListFormat>

#include <cstdint>

namespace editor::rtf {

// 1440 twips and 96 document units to the inch.
inline constexpr double kTwipsPerUnit = 15.0;

// Font sizes in half points: RTF's default (12 points) and the largest taken.
inline constexpr int kDefaultHalfPoints = 24;
inline constexpr int kMaxHalfPoints = 3276;

// Character formatting as RTF expresses it.
struct CharProps {
    int font = -1;  // font-table number; -1: the document's default font (\deff)
    int halfPoints = kDefaultHalfPoints;
    int fg = 0;  // colour-table indexes, 0: automatic / none
    int bg = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;
    bool hidden = false;
    uint8_t valign = 0;  // 0 normal, 1 superscript, 2 subscript

    bool operator==(const CharProps&) const = default;
};

// How the items of a list are marked.
enum class Numbering : uint8_t {
    None,
    Bullet,
    Decimal,
    LowerAlpha,
    UpperAlpha,
    LowerRoman,
    UpperRoman
};

// The numbering of a list level's \levelnfcN: 23 bullets, 255 nothing, 0 to 4 decimal, upper and
// lower roman, upper and lower letters; other number formats show as decimal.
Numbering NumberingForNfc(int nfc);

// The \levelnfcN of a numbering.
int NfcFor(Numbering numbering);

// The list style that shows a numbering (bullets as discs).
QTextListFormat::Style StyleFor(Numbering numbering);

// The numbering of a list style; discs, circles and squares are all bullets.
Numbering NumberingFor(QTextListFormat::Style style);

// The old-style paragraph-numbering keyword of a numbering: \pnlvlblt for bullets, \pndec,
// \pnucrm, \pnlcrm, \pnucltr or \pnlcltr for numbers.
const char* PnKeywordFor(Numbering numbering);

}  // namespace editor::rtf
