// RTF writer: the body is written in one pass over the blocks, collecting fonts, colours and lists
// on the way; the header with their tables is put in front at the end.
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>

#include <algorithm>
#include <cmath>
#include <vector>

#include "editor/Rtf.h"
#include "editor/RtfCodePage.h"
#include "editor/RtfFormat.h"

namespace editor {
namespace {

using rtf::CharProps;
using rtf::kTwipsPerUnit;
using rtf::Numbering;

constexpr int kListHangTwips = 360;  // the bullet hangs this far left of the text

QByteArray Roman(int n)
{
    static const struct {
        int value;
        const char* text;
    } kDigits[] = {{1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"},
                   {90, "xc"},  {50, "l"},   {40, "xl"}, {10, "x"},   {9, "ix"},
                   {5, "v"},    {4, "iv"},   {1, "i"}};
    if (n <= 0 || n >= 5000) return QByteArray::number(n);
    QByteArray out;
    for (const auto& d : kDigits) {
        while (n >= d.value) {
            out += d.text;
            n -= d.value;
        }
    }
    return out;
}

QByteArray Letters(int n)
{
    QByteArray out;
    while (n > 0) {
        --n;
        out.prepend(char('a' + n % 26));
        n /= 26;
    }
    return out;
}

// The label a reader without list support shows before a list item ("1.", "b.", "iv.").
QByteArray ItemLabel(Numbering n, int number)
{
    switch (n) {
    case Numbering::Decimal:
        return QByteArray::number(number) + '.';
    case Numbering::LowerAlpha:
        return Letters(number) + '.';
    case Numbering::UpperAlpha:
        return Letters(number).toUpper() + '.';
    case Numbering::LowerRoman:
        return Roman(number) + '.';
    case Numbering::UpperRoman:
        return Roman(number).toUpper() + '.';
    case Numbering::None:
    case Numbering::Bullet:
        break;
    }
    return "\\'95";
}

int Twips(double units)
{
    return int(std::lround(units * kTwipsPerUnit));
}

enum class Escape { Body, FontName };

// Appends text with RTF's escapes. In a font name ';' (which ends the name) is escaped too, and
// tabs, line breaks and no-break spaces are characters rather than control words.
void AppendEscaped(QByteArray& out, QStringView text, Escape mode)
{
    static const char kHex[] = "0123456789abcdef";
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += char(c);
            continue;
        }
        if (mode == Escape::Body) {
            switch (c) {
            case '\t':
                out += "\\tab ";
                continue;
            case QChar::LineSeparator:
                out += "\\line ";
                continue;
            case QChar::Nbsp:
                out += "\\~";
                continue;
            case QChar::ParagraphSeparator:
            case QChar::ObjectReplacementCharacter:  // images and other objects are not written
            case 0xFDD0:                             // frame markers
            case 0xFDD1:
                continue;
            default:
                break;
            }
        }
        if (c < 0x20) continue;
        if (c < 0x80 && !(mode == Escape::FontName && c == ';')) {
            out += char(c);
            continue;
        }
        const int b = rtf::UnicodeToCp1252(c);
        if (b >= 0) {
            out += "\\'";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            // A signed 16-bit number; characters beyond the BMP go as their two surrogates.
            out += "\\u";
            out += QByteArray::number(int(int16_t(c)));
            out += '?';
        }
    }
}

class Writer {
public:
    explicit Writer(const QTextDocument& doc) : doc_(doc), defaultFont_(doc.defaultFont()) {}

    QByteArray Run();

private:
    struct ListOut {
        int ls = 0;
        Numbering numbering = Numbering::Bullet;
    };

    CharProps Props(const QTextCharFormat& fmt);
    int FontIndex(const QString& family);
    int ColorIndex(const QColor& color);
    const ListOut& ListFor(const QTextList* list);
    void WriteBlock(const QTextBlock& block);
    void WriteListPrefix(const QTextList* list, const CharProps& first);
    void WriteCharProps(const CharProps& p);
    void WriteText(QStringView text);
    QByteArray Header() const;

    const QTextDocument& doc_;
    const QFont defaultFont_;
    QByteArray body_;

    QStringList fonts_;
    QHash<QString, int> fontIndex_;
    std::vector<QRgb> colors_;
    QHash<QRgb, int> colorIndex_;
    QHash<const QTextList*, ListOut> lists_;
    std::vector<Numbering> lsNumbering_;  // by \ls number - 1
    int bulletLs_ = 0;
    QHash<const QTextList*, int> itemCounts_;

    CharProps current_;
    bool haveCurrent_ = false;
    bool controlOpen_ = false;  // the body ends in a control word that text must not extend
};

int Writer::FontIndex(const QString& family)
{
    auto it = fontIndex_.constFind(family);
    if (it != fontIndex_.constEnd()) return *it;
    const int index = int(fonts_.size());
    fonts_.append(family);
    fontIndex_.insert(family, index);
    return index;
}

int Writer::ColorIndex(const QColor& color)
{
    const QRgb rgb = color.rgb();
    auto it = colorIndex_.constFind(rgb);
    if (it != colorIndex_.constEnd()) return *it;
    colors_.push_back(rgb);
    const int index = int(colors_.size());  // index 0 is "automatic"
    colorIndex_.insert(rgb, index);
    return index;
}

CharProps Writer::Props(const QTextCharFormat& fmt)
{
    const QFont font = fmt.font().resolve(defaultFont_);
    CharProps p;
    QString family = font.family();
    if (family.isEmpty()) family = defaultFont_.family();
    if (family.isEmpty()) family = QStringLiteral("Arial");
    p.font = FontIndex(family);
    double points = font.pointSizeF();
    if (points <= 0 && font.pixelSize() > 0) points = font.pixelSize() * 0.75;
    p.halfPoints = points > 0 ? std::clamp(int(std::lround(points * 2)), 1, rtf::kMaxHalfPoints)
                              : rtf::kDefaultHalfPoints;
    p.bold = font.bold();
    p.italic = font.italic();
    if (fmt.hasProperty(QTextFormat::TextUnderlineStyle)) {
        p.underline = fmt.underlineStyle() != QTextCharFormat::NoUnderline &&
                      fmt.underlineStyle() != QTextCharFormat::SpellCheckUnderline;
    } else {
        p.underline = font.underline();
    }
    p.strike = font.strikeOut();
    if (fmt.verticalAlignment() == QTextCharFormat::AlignSuperScript) p.valign = 1;
    if (fmt.verticalAlignment() == QTextCharFormat::AlignSubScript) p.valign = 2;
    const QBrush fg = fmt.foreground();
    if (fg.style() != Qt::NoBrush) p.fg = ColorIndex(fg.color());
    const QBrush bg = fmt.background();
    if (bg.style() != Qt::NoBrush) p.bg = ColorIndex(bg.color());
    return p;
}

const Writer::ListOut& Writer::ListFor(const QTextList* list)
{
    auto it = lists_.constFind(list);
    if (it != lists_.constEnd()) return *it;
    ListOut out;
    out.numbering = rtf::NumberingFor(list->format().style());
    // Bullets do not count, so all bulleted lists share one RTF list; numbered lists keep
    // their own, so that their numbering restarts where the document's does.
    if (out.numbering == Numbering::Bullet && bulletLs_ != 0) {
        out.ls = bulletLs_;
    } else {
        lsNumbering_.push_back(out.numbering);
        out.ls = int(lsNumbering_.size());
        if (out.numbering == Numbering::Bullet) bulletLs_ = out.ls;
    }
    return *lists_.insert(list, out);
}

void Writer::WriteCharProps(const CharProps& p)
{
    const qsizetype start = body_.size();
    const CharProps& c = current_;
    const bool all = !haveCurrent_;
    if (all || p.font != c.font) body_ += "\\f" + QByteArray::number(p.font);
    if (all || p.halfPoints != c.halfPoints) body_ += "\\fs" + QByteArray::number(p.halfPoints);
    if (all ? p.bold : p.bold != c.bold) body_ += p.bold ? "\\b" : "\\b0";
    if (all ? p.italic : p.italic != c.italic) body_ += p.italic ? "\\i" : "\\i0";
    if (all ? p.underline : p.underline != c.underline) body_ += p.underline ? "\\ul" : "\\ulnone";
    if (all ? p.strike : p.strike != c.strike) body_ += p.strike ? "\\strike" : "\\strike0";
    if (all ? p.valign != 0 : p.valign != c.valign) {
        body_ += p.valign == 1 ? "\\super" : p.valign == 2 ? "\\sub" : "\\nosupersub";
    }
    if (all ? p.fg != 0 : p.fg != c.fg) body_ += "\\cf" + QByteArray::number(p.fg);
    if (all ? p.bg != 0 : p.bg != c.bg) body_ += "\\highlight" + QByteArray::number(p.bg);
    if (body_.size() != start) controlOpen_ = true;
    current_ = p;
    haveCurrent_ = true;
}

void Writer::WriteText(QStringView text)
{
    if (text.isEmpty()) return;
    if (controlOpen_) body_ += ' ';
    controlOpen_ = false;
    AppendEscaped(body_, text, Escape::Body);
}

void Writer::WriteListPrefix(const QTextList* list, const CharProps& first)
{
    const ListOut& out = ListFor(list);
    const bool bullet = out.numbering == Numbering::Bullet;
    const int number = ++itemCounts_[list];
    const QByteArray font = QByteArray::number(first.font);
    // For readers without list support: the label as text.
    body_ += "{\\pntext\\plain\\f" + font + "\\fs" + QByteArray::number(first.halfPoints);
    body_ += bullet ? QByteArray() : QByteArray(" ");
    body_ += ItemLabel(out.numbering, number) + "\\tab}";
    // Old-style paragraph numbering.
    body_ += "{\\*\\pn";
    if (bullet) {
        body_ += "\\pnlvlblt\\pnf" + font + "\\pnindent" + QByteArray::number(kListHangTwips) +
                 "{\\pntxtb\\'95}}";
    } else {
        body_ += "\\pnlvlbody\\pnf" + font + "\\pnindent" + QByteArray::number(kListHangTwips) +
                 "\\pnstart1" + rtf::PnKeywordFor(out.numbering) + "{\\pntxta.}}";
    }
    // List-table numbering.
    const int level = std::clamp(list->format().indent() - 1, 0, 8);
    body_ += "\\ls" + QByteArray::number(out.ls) + "\\ilvl" + QByteArray::number(level);
}

void Writer::WriteBlock(const QTextBlock& block)
{
    const QTextBlockFormat bf = block.blockFormat();
    const QTextList* list = block.textList();

    // Character properties of the first character (or of the empty paragraph).
    QTextBlock::iterator it = block.begin();
    const bool empty = it.atEnd();
    const CharProps first = Props(empty ? block.charFormat() : it.fragment().charFormat());

    body_ += "\\pard";
    int left = Twips(bf.leftMargin());
    int firstLine = Twips(bf.textIndent());
    if (list) {
        WriteListPrefix(list, first);
        left += Twips(list->format().indent() * doc_.indentWidth());
        firstLine = -kListHangTwips;
    }
    const Qt::Alignment align = bf.alignment() & Qt::AlignHorizontal_Mask;
    if (align & Qt::AlignJustify) {
        body_ += "\\qj";
    } else if (align & Qt::AlignHCenter) {
        body_ += "\\qc";
    } else if (align & (Qt::AlignRight | Qt::AlignTrailing)) {
        body_ += "\\qr";
    }
    if (firstLine != 0) body_ += "\\fi" + QByteArray::number(firstLine);
    if (left != 0) body_ += "\\li" + QByteArray::number(left);
    const int right = Twips(bf.rightMargin());
    if (right != 0) body_ += "\\ri" + QByteArray::number(right);
    const int before = Twips(bf.topMargin());
    if (before > 0) body_ += "\\sb" + QByteArray::number(before);
    const int after = Twips(bf.bottomMargin());
    if (after > 0) body_ += "\\sa" + QByteArray::number(after);
    controlOpen_ = true;

    if (empty) {
        WriteCharProps(first);
    } else {
        for (; !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            WriteCharProps(Props(fragment.charFormat()));
            WriteText(fragment.text());
        }
    }
    body_ += "\\par\n";
}

QByteArray Writer::Header() const
{
    QByteArray h = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl";
    for (int i = 0; i < fonts_.size(); ++i) {
        h += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
        AppendEscaped(h, fonts_[i], Escape::FontName);
        h += ";}";
    }
    h += "}\n";
    if (!colors_.empty()) {
        h += "{\\colortbl ;";
        for (QRgb c : colors_) {
            h += "\\red" + QByteArray::number(qRed(c)) + "\\green" + QByteArray::number(qGreen(c)) +
                 "\\blue" + QByteArray::number(qBlue(c)) + ';';
        }
        h += "}\n";
    }
    if (!lsNumbering_.empty()) {
        h += "{\\*\\listtable\n";
        for (size_t i = 0; i < lsNumbering_.size(); ++i) {
            const QByteArray id = QByteArray::number(qsizetype(i + 1));
            const Numbering n = lsNumbering_[i];
            const QByteArray nfc = QByteArray::number(rtf::NfcFor(n));
            h += "{\\list\\listtemplateid" + id + "\\listhybrid";
            for (int level = 0; level < 9; ++level) {
                const QByteArray indent = QByteArray::number(720 * (level + 1));
                h += "{\\listlevel\\levelnfc" + nfc + "\\levelnfcn" + nfc +
                     "\\leveljc0\\leveljcn0\\levelfollow0\\levelstartat1";
                if (n == Numbering::Bullet) {
                    h += "{\\leveltext\\'01\\'95;}{\\levelnumbers;}";
                } else {
                    h += "{\\leveltext\\'02\\'0" + QByteArray::number(level) +
                         ".;}{\\levelnumbers\\'01;}";
                }
                h += "\\fi-" + QByteArray::number(kListHangTwips) + "\\li" + indent + "\\lin" +
                     indent + "}";
            }
            h += "\\listid" + id + "}\n";
        }
        h += "}\n{\\*\\listoverridetable";
        for (size_t i = 0; i < lsNumbering_.size(); ++i) {
            const QByteArray id = QByteArray::number(qsizetype(i + 1));
            h += "{\\listoverride\\listid" + id + "\\listoverridecount0\\ls" + id + "}";
        }
        h += "}\n";
    }
    h += "\\viewkind4\\uc1\n";
    return h;
}

QByteArray Writer::Run()
{
    // The document's default font is font 0, the one \deff0 names.
    QString family = defaultFont_.family();
    FontIndex(family.isEmpty() ? QStringLiteral("Arial") : family);
    for (QTextBlock block = doc_.begin(); block.isValid(); block = block.next()) {
        WriteBlock(block);
    }
    QByteArray out = Header();
    out += body_;
    out += "}\n";
    return out;
}

}  // namespace

QByteArray WriteRtf(const QTextDocument& doc)
{
    return Writer(doc).Run();
}

}  // namespace editor
