#include "editor/RtfFormat.h"

namespace editor::rtf {
namespace {

struct NumberingRow {
    Numbering numbering;
    int nfc;
    QTextListFormat::Style style;
    const char* pn;
};

constexpr NumberingRow kNumberings[] = {
    {Numbering::Bullet, 23, QTextListFormat::ListDisc, "\\pnlvlblt"},
    {Numbering::Decimal, 0, QTextListFormat::ListDecimal, "\\pndec"},
    {Numbering::UpperRoman, 1, QTextListFormat::ListUpperRoman, "\\pnucrm"},
    {Numbering::LowerRoman, 2, QTextListFormat::ListLowerRoman, "\\pnlcrm"},
    {Numbering::UpperAlpha, 3, QTextListFormat::ListUpperAlpha, "\\pnucltr"},
    {Numbering::LowerAlpha, 4, QTextListFormat::ListLowerAlpha, "\\pnlcltr"},
};

constexpr int kNoNumberNfc = 255;

const NumberingRow* RowFor(Numbering numbering)
{
    for (const NumberingRow& row : kNumberings) {
        if (row.numbering == numbering) return &row;
    }
    return nullptr;
}

}  // namespace

Numbering NumberingForNfc(int nfc)
{
    if (nfc == kNoNumberNfc) return Numbering::None;
    for (const NumberingRow& row : kNumberings) {
        if (row.nfc == nfc) return row.numbering;
    }
    return Numbering::Decimal;
}

int NfcFor(Numbering numbering)
{
    const NumberingRow* row = RowFor(numbering);
    return row ? row->nfc : kNoNumberNfc;
}

QTextListFormat::Style StyleFor(Numbering numbering)
{
    const NumberingRow* row = RowFor(numbering);
    return row ? row->style : QTextListFormat::ListDisc;
}

Numbering NumberingFor(QTextListFormat::Style style)
{
    for (const NumberingRow& row : kNumberings) {
        if (row.style == style) return row.numbering;
    }
    return Numbering::Bullet;  // circle, square
}

const char* PnKeywordFor(Numbering numbering)
{
    const NumberingRow* row = RowFor(numbering);
    return row ? row->pn : "\\pnlvlblt";
}

}  // namespace editor::rtf
