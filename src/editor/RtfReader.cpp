// RTF reader: a single pass over the bytes with an explicit stack of group states, filling a
// QTextDocument through one QTextCursor inside one edit block.
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "editor/Rtf.h"
#include "editor/RtfCodePage.h"
#include "editor/RtfFormat.h"

namespace editor {
namespace {

using rtf::CharProps;
using rtf::kDefaultHalfPoints;
using rtf::kMaxHalfPoints;
using rtf::kTwipsPerUnit;
using rtf::Numbering;

// Items per QTextList before a new list is started (see Rtf.h): bullets look the same across
// lists, numbers restart, so numbered lists get a much larger share.
constexpr int kBulletsPerList = 64;
constexpr int kNumbersPerList = 512;

constexpr int kMaxTwips = 31680;  // 22 inches: larger indents are clamped
constexpr char16_t kReplacement = 0xFFFD;
// Text gathered under one format is inserted in pieces of about this many characters (bytes of
// single-byte pages), so a huge unformatted run is not held twice over.
constexpr qsizetype kFlushSize = 1 << 20;

// Where the text and control words of the current group go.
enum class Dest : uint8_t {
    Body,           // the document text
    FontTable,      // \fonttbl and its entries
    ColorTable,     // \colortbl
    ListTable,      // \listtable
    List,           // one \list of the list table
    ListLevel,      // one \listlevel of a list
    OverrideTable,  // \listoverridetable
    Override,       // one \listoverride
    Pn,             // old-style paragraph numbering \pn
    Skip,           // everything that is not shown
};

struct ParaState {
    int align = 0;  // 0 left, 1 centre, 2 right, 3 justify
    int li = 0;     // twips
    int ri = 0;
    int fi = 0;
    int sb = 0;
    int sa = 0;
    int ls = 0;  // list override number, 0: none
    int ilvl = 0;
    Numbering pnKind = Numbering::None;  // from a {\pn} group
    int pnLevel = 0;
};

struct GroupState {
    CharProps ch;
    ParaState para;
    int uc = 1;  // fallback characters after \uN
    Dest dest = Dest::Body;
};

// clang-format off
enum class Kw : uint8_t {
    Unknown,
    SkipDest,
    // document
    Rtf, Ansi, Mac, Pc, Pca, AnsiCpg, Deff,
    // destinations
    FontTbl, ColorTbl, ListTable, ListOverrideTable, List, ListLevel, ListOverride, Pn,
    // font and colour tables
    F, FCharset, Cpg, Red, Green, Blue,
    // lists
    ListId, LevelNfc, Ls, Ilvl,
    PnLvlBlt, PnLvlBody, PnLvlCont, PnLvl, PnDec, PnUcLtr, PnLcLtr, PnUcRm, PnLcRm,
    // character formatting
    Plain, Fs, B, I, Ul, UlNone, Strike, V, Super, Sub, NoSuperSub, Cf, Cb,
    // paragraph formatting
    Pard, Ql, Qc, Qr, Qj, Li, Ri, Fi, Sb, Sa,
    // text
    Par, Row, Line, Tab, Cell, U, Uc, Bin,
    EmDash, EnDash, LQuote, RQuote, LDblQuote, RDblQuote, Bullet, EmSpace, EnSpace, QmSpace,
    Zwj, Zwnj, LtrMark, RtlMark,
};

const std::unordered_map<std::string_view, Kw>& KeywordTable()
{
    static const std::unordered_map<std::string_view, Kw> table = [] {
        std::unordered_map<std::string_view, Kw> t = {
            {"rtf", Kw::Rtf}, {"ansi", Kw::Ansi}, {"mac", Kw::Mac}, {"pc", Kw::Pc},
            {"pca", Kw::Pca}, {"ansicpg", Kw::AnsiCpg}, {"deff", Kw::Deff},
            {"fonttbl", Kw::FontTbl}, {"colortbl", Kw::ColorTbl}, {"listtable", Kw::ListTable},
            {"listoverridetable", Kw::ListOverrideTable}, {"list", Kw::List},
            {"listlevel", Kw::ListLevel}, {"listoverride", Kw::ListOverride}, {"pn", Kw::Pn},
            {"f", Kw::F}, {"fcharset", Kw::FCharset}, {"cpg", Kw::Cpg}, {"red", Kw::Red},
            {"green", Kw::Green}, {"blue", Kw::Blue},
            {"listid", Kw::ListId}, {"levelnfc", Kw::LevelNfc}, {"levelnfcn", Kw::LevelNfc},
            {"ls", Kw::Ls}, {"ilvl", Kw::Ilvl},
            {"pnlvlblt", Kw::PnLvlBlt}, {"pnlvlbody", Kw::PnLvlBody}, {"pnlvlcont", Kw::PnLvlCont},
            {"pnlvl", Kw::PnLvl}, {"pndec", Kw::PnDec}, {"pnucltr", Kw::PnUcLtr},
            {"pnlcltr", Kw::PnLcLtr}, {"pnucrm", Kw::PnUcRm}, {"pnlcrm", Kw::PnLcRm},
            {"plain", Kw::Plain}, {"fs", Kw::Fs}, {"b", Kw::B}, {"i", Kw::I},
            {"ulnone", Kw::UlNone}, {"strike", Kw::Strike}, {"striked", Kw::Strike},
            {"v", Kw::V}, {"super", Kw::Super}, {"sub", Kw::Sub}, {"nosupersub", Kw::NoSuperSub},
            {"cf", Kw::Cf}, {"cb", Kw::Cb}, {"highlight", Kw::Cb}, {"chcbpat", Kw::Cb},
            {"pard", Kw::Pard}, {"ql", Kw::Ql}, {"qc", Kw::Qc}, {"qr", Kw::Qr}, {"qj", Kw::Qj},
            {"qd", Kw::Qj}, {"li", Kw::Li}, {"lin", Kw::Li}, {"ri", Kw::Ri}, {"rin", Kw::Ri},
            {"fi", Kw::Fi}, {"sb", Kw::Sb}, {"sa", Kw::Sa},
            {"par", Kw::Par}, {"row", Kw::Row}, {"nestrow", Kw::Row}, {"line", Kw::Line},
            {"tab", Kw::Tab}, {"cell", Kw::Cell}, {"nestcell", Kw::Cell}, {"u", Kw::U},
            {"uc", Kw::Uc}, {"bin", Kw::Bin},
            {"emdash", Kw::EmDash}, {"endash", Kw::EnDash}, {"lquote", Kw::LQuote},
            {"rquote", Kw::RQuote}, {"ldblquote", Kw::LDblQuote}, {"rdblquote", Kw::RDblQuote},
            {"bullet", Kw::Bullet}, {"emspace", Kw::EmSpace}, {"enspace", Kw::EnSpace},
            {"qmspace", Kw::QmSpace}, {"zwj", Kw::Zwj}, {"zwnj", Kw::Zwnj},
            {"ltrmark", Kw::LtrMark}, {"rtlmark", Kw::RtlMark},
        };
        // Every kind of underline is shown as a single one.
        for (std::string_view ul :
             {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth",
              "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw",
              "ulwave"}) {
            t.emplace(ul, Kw::Ul);
        }
        // Destinations whose content is not part of the shown text.
        for (std::string_view d :
             {"aftncn", "aftnsep", "aftnsepc", "annotation", "atnauthor", "atnid", "atrfend",
              "atrfstart", "author", "background", "bkmkend", "bkmkstart", "buptim",
              "colorschememapping", "comment", "creatim", "datastore", "doccomm", "docvar",
              "falt", "filetbl", "fldinst", "footer", "footerf", "footerl", "footerr", "footnote",
              "ftncn", "ftnsep", "ftnsepc", "generator", "header", "headerf", "headerl",
              "headerr", "info", "keywords", "latentstyles", "levelnumbers", "leveltext",
              "lfolevel", "listname", "listpicture", "listtext", "mmathPr", "nonshppict",
              "objdata", "object", "operator", "panose", "pgdsctbl", "pict", "pntext", "pntxta",
              "pntxtb", "printim", "private", "protusertbl", "revtbl", "revtim", "rsidtbl", "rxe",
              "shp", "shpinst", "stylesheet", "subject", "tc", "template", "themedata", "title",
              "txe", "userprops", "xe", "xmlnstbl"}) {
            t.emplace(d, Kw::SkipDest);
        }
        return t;
    }();
    return table;
}
// clang-format on

bool IsDestination(Kw kw)
{
    switch (kw) {
    case Kw::SkipDest:
    case Kw::FontTbl:
    case Kw::ColorTbl:
    case Kw::ListTable:
    case Kw::ListOverrideTable:
    case Kw::List:
    case Kw::ListLevel:
    case Kw::ListOverride:
    case Kw::Pn:
        return true;
    default:
        return false;
    }
}

// Byte classes of the scanner.
enum : uint8_t { kText = 0, kSpecial = 1, kIgnored = 2 };

constexpr std::array<uint8_t, 256> MakeByteClasses()
{
    std::array<uint8_t, 256> c{};
    for (int i = 0; i < 0x20; ++i)
        c[i] = kIgnored;
    c['\t'] = kText;
    c['\\'] = kSpecial;
    c['{'] = kSpecial;
    c['}'] = kSpecial;
    return c;
}
constexpr std::array<uint8_t, 256> kByteClass = MakeByteClasses();

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int ClampTwips(int v)
{
    return std::clamp(v, -kMaxTwips, kMaxTwips);
}

class Reader {
public:
    Reader(const QByteArray& data, QTextDocument& doc)
        : p_(data.constData()), end_(data.constData() + data.size()), doc_(doc), cursor_(&doc)
    {
    }

    void Run();

private:
    struct FontEntry {
        QString name;
        int codePage = 0;  // 0: the document's code page
    };
    struct ListDef {
        int id = 0;
        std::vector<int> nfc;  // per level
    };
    struct ListSlot {
        QPointer<QTextList> list;
        int count = 0;
    };

    GroupState& Top() { return stack_.back(); }

    // Tokens
    void OpenGroup();
    bool CloseGroup();  // false when the outermost group closed
    void ControlWord();
    void ControlSymbol();
    void TextRun(const char* begin, const char* end);
    void Word(Kw kw, bool hasParam, int param);
    void Dispatch(Kw kw, bool hasParam, int param);
    void WordInBody(Kw kw, bool hasParam, int param);
    void GroupClosed(const GroupState& closed, GroupState* parent);

    // Tables
    void FinishFontEntry();
    int FontEntryCodePage() const;
    void FinishColor();

    // Document text
    int CodePage();
    void AppendBytes(const char* bytes, qsizetype size);
    void AppendChar(char32_t ch);
    void SyncFormat();
    void InvalidateFormat();
    void FlushBytes();
    void FlushText();
    void EnsureParagraph();
    void EndParagraph();
    void FinishBlock();
    void AttachToList(Numbering kind, int level, bool fromLs);
    QTextCharFormat MakeCharFormat(const CharProps& ch) const;

    const char* p_;
    const char* const end_;
    QTextDocument& doc_;
    QTextCursor cursor_;

    std::vector<GroupState> stack_;
    int overflowDepth_ = 0;  // groups opened past kRtfMaxGroupDepth
    bool starPending_ = false;
    int skipFallback_ = 0;  // characters still to skip after \uN

    int ansiCodePage_ = 1252;
    int defaultFont_ = 0;
    std::unordered_map<int, FontEntry> fonts_;
    int fontNumber_ = -1;   // entry being read in the font table
    int fontCodePage_ = 0;  // from \fcharset
    int fontCpg_ = 0;       // from \cpg, which wins over \fcharset
    QByteArray fontNameBytes_;
    QString fontName_;

    std::vector<QColor> colors_;
    int red_ = 0, green_ = 0, blue_ = 0;
    bool colorSet_ = false;

    std::unordered_map<int, ListDef> listDefs_;  // by \listid
    ListDef listDef_;                            // list being read
    std::unordered_map<int, int> overrides_;     // \ls number -> \listid
    int overrideListId_ = 0;
    int overrideLs_ = 0;
    std::unordered_map<qint64, ListSlot> lsLists_;  // by (ls, level): lasts the whole document
    std::unordered_map<qint64, ListSlot> pnLists_;  // by (kind, level): one run of paragraphs

    rtf::CodePageDecoder decoder_;
    QByteArray pendingBytes_;
    int pendingCodePage_ = 0;
    QString pendingText_;
    char16_t pendingHigh_ = 0;   // high surrogate waiting for its low half
    QTextCharFormat runFormat_;  // format of pendingText_
    CharProps runState_;         // the state runFormat_ was made from
    bool runStateValid_ = false;
    bool formatDirty_ = true;       // the character state may differ from runState_
    bool pendingBreak_ = false;     // a paragraph ended; the next one starts with the next content
    QTextBlockFormat blockFormat_;  // the formats the cursor's block has (a cleared document's)
    QTextCharFormat blockCharFormat_;
};

void Reader::Run()
{
    stack_.reserve(64);
    cursor_.beginEditBlock();
    while (p_ < end_) {
        const char c = *p_;
        const uint8_t cls = kByteClass[uchar(c)];
        if (cls == kSpecial) {
            ++p_;
            if (c == '{') {
                OpenGroup();
            } else if (c == '}') {
                if (!CloseGroup()) break;
            } else {
                if (p_ >= end_) break;
                if (IsAsciiLetter(*p_)) {
                    ControlWord();
                } else {
                    ControlSymbol();
                }
            }
        } else if (cls == kIgnored) {
            ++p_;
        } else if (stack_.empty()) {
            ++p_;  // cannot happen after "{\rtf", kept for safety
        } else if (skipFallback_ > 0) {
            --skipFallback_;
            ++p_;
        } else {
            const char* begin = p_;
            while (p_ < end_ && kByteClass[uchar(*p_)] == kText)
                ++p_;
            TextRun(begin, p_);
        }
    }
    // End of data, whether or not the groups were closed.
    FlushText();
    if (!pendingBreak_) FinishBlock();
    cursor_.endEditBlock();
}

void Reader::OpenGroup()
{
    skipFallback_ = 0;
    starPending_ = false;
    if (stack_.empty()) {
        stack_.emplace_back();
    } else if (int(stack_.size()) < kRtfMaxGroupDepth) {
        stack_.push_back(stack_.back());
    } else {
        ++overflowDepth_;
    }
}

bool Reader::CloseGroup()
{
    skipFallback_ = 0;
    starPending_ = false;
    if (overflowDepth_ > 0) {
        --overflowDepth_;
        return true;
    }
    if (stack_.size() <= 1) {
        // The document's group ended; what follows it is not part of the document. Its state
        // stays for the last paragraph.
        if (!stack_.empty()) GroupClosed(stack_.back(), nullptr);
        return false;
    }
    const GroupState closed = stack_.back();
    stack_.pop_back();
    GroupClosed(closed, &stack_.back());
    formatDirty_ = true;
    return true;
}

void Reader::GroupClosed(const GroupState& closed, GroupState* parent)
{
    const Dest parentDest = parent ? parent->dest : Dest::Body;
    switch (closed.dest) {
    case Dest::FontTable:
        FinishFontEntry();
        break;
    case Dest::List:
        if (parentDest != Dest::List && parentDest != Dest::ListLevel) {
            listDefs_[listDef_.id] = std::move(listDef_);
            listDef_ = ListDef();
        }
        break;
    case Dest::Override:
        if (parentDest != Dest::Override) {
            if (overrideLs_ != 0) overrides_[overrideLs_] = overrideListId_;
            overrideLs_ = overrideListId_ = 0;
        }
        break;
    case Dest::Pn:
        // The {\pn} group sets properties of the paragraph around it.
        if (parent && parentDest != Dest::Pn) {
            parent->para.pnKind = closed.para.pnKind;
            parent->para.pnLevel = closed.para.pnLevel;
        }
        break;
    default:
        break;
    }
}

void Reader::ControlWord()
{
    const char* nameBegin = p_;
    while (p_ < end_ && IsAsciiLetter(*p_))
        ++p_;
    const std::string_view name(nameBegin, size_t(p_ - nameBegin));
    bool negative = false;
    if (p_ + 1 < end_ && *p_ == '-' && IsDigit(p_[1])) {
        negative = true;
        ++p_;
    }
    bool hasParam = false;
    qint64 value = 0;
    while (p_ < end_ && IsDigit(*p_)) {
        hasParam = true;
        // Saturate: the digits are consumed whatever their number.
        if (value < 100000000000LL) value = value * 10 + (*p_ - '0');
        ++p_;
    }
    if (p_ < end_ && *p_ == ' ') ++p_;
    if (negative) value = -value;
    const int param = int(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                             std::numeric_limits<int>::max()));
    Kw kw = Kw::Unknown;
    if (name.size() <= 32) {
        const auto& table = KeywordTable();
        auto it = table.find(name);
        if (it != table.end()) kw = it->second;
    }
    if (kw == Kw::Bin) {
        // Raw bytes follow, in every destination; they may hold braces and backslashes.
        const qint64 count = std::max(0, param);
        p_ += std::min<qint64>(count, end_ - p_);
        if (skipFallback_ > 0) --skipFallback_;
        starPending_ = false;
        return;
    }
    if (skipFallback_ > 0) {
        --skipFallback_;
        return;
    }
    Word(kw, hasParam, param);
}

void Reader::ControlSymbol()
{
    const char c = *p_++;
    if (c == '\'') {
        int value = 0;
        int digits = 0;
        while (digits < 2 && p_ < end_ && HexValue(*p_) >= 0) {
            value = value * 16 + HexValue(*p_++);
            ++digits;
        }
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        if (digits == 0 || stack_.empty()) return;  // "\'" without hex digits: nothing
        if (starPending_) {
            starPending_ = false;
            Top().dest = Dest::Skip;
            return;
        }
        const char byte = char(value);
        if (Top().dest == Dest::FontTable && fontNumber_ >= 0 && !starPending_) {
            fontNameBytes_.append(byte);  // an escaped ';' belongs to the name
        } else {
            TextRun(&byte, &byte + 1);
        }
        return;
    }
    if (skipFallback_ > 0) {
        --skipFallback_;
        return;
    }
    if (stack_.empty()) return;
    if (c == '*') {
        starPending_ = true;
        return;
    }
    if (starPending_) {
        starPending_ = false;
        Top().dest = Dest::Skip;
        return;
    }
    switch (c) {
    case '\\':
    case '{':
    case '}':
        TextRun(p_ - 1, p_);
        break;
    case '\r':
    case '\n':
        Word(Kw::Par, false, 0);
        break;  // a backslash before a line break is \par
    case '~':
        AppendChar(0x00A0);
        break;
    case '-':
        AppendChar(0x00AD);
        break;
    case '_':
        AppendChar(0x2011);
        break;
    default:
        break;  // \: \| and unknown symbols
    }
}

void Reader::TextRun(const char* begin, const char* end)
{
    if (starPending_) {
        starPending_ = false;
        Top().dest = Dest::Skip;
    }
    switch (Top().dest) {
    case Dest::Body:
        AppendBytes(begin, end - begin);
        break;
    case Dest::FontTable:
        for (const char* q = begin; q < end; ++q) {
            if (*q == ';') {
                FinishFontEntry();
            } else if (fontNumber_ >= 0) {
                fontNameBytes_.append(*q);
            }
        }
        break;
    case Dest::ColorTable:
        for (const char* q = begin; q < end; ++q) {
            if (*q == ';') FinishColor();
        }
        break;
    default:
        break;
    }
}

void Reader::Word(Kw kw, bool hasParam, int param)
{
    GroupState& s = Top();
    if (s.dest == Dest::Skip) return;
    if (!starPending_) {
        Dispatch(kw, hasParam, param);
        return;
    }
    // \* marks a destination to skip unless the reader knows it and it belongs where it stands.
    starPending_ = false;
    const Dest before = s.dest;
    if (IsDestination(kw) && kw != Kw::SkipDest) Dispatch(kw, hasParam, param);
    if (s.dest == before) s.dest = Dest::Skip;
}

void Reader::Dispatch(Kw kw, bool hasParam, int param)
{
    GroupState& s = Top();
    switch (kw) {
    case Kw::SkipDest:
        s.dest = Dest::Skip;
        return;
    case Kw::FontTbl:
        s.dest = Dest::FontTable;
        return;
    case Kw::ColorTbl:
        s.dest = Dest::ColorTable;
        colors_.clear();
        red_ = green_ = blue_ = 0;
        colorSet_ = false;
        return;
    case Kw::ListTable:
        s.dest = Dest::ListTable;
        return;
    case Kw::ListOverrideTable:
        s.dest = Dest::OverrideTable;
        return;
    case Kw::Uc:
        s.uc = std::clamp(param, 0, 1000);
        return;
    case Kw::U: {
        // Negative values stand for the upper half of the 16-bit range.
        qint64 v = param;
        if (v < 0 && v >= -32768) v += 65536;
        if (s.dest == Dest::Body) {
            AppendChar(v >= 0 && v <= 0x10FFFF ? char32_t(v) : char32_t(kReplacement));
        } else if (s.dest == Dest::FontTable && fontNumber_ >= 0 && v > 0 && v <= 0xFFFF) {
            decoder_.Decode(FontEntryCodePage(), fontNameBytes_.constData(), fontNameBytes_.size(),
                            fontName_);
            fontNameBytes_.clear();
            fontName_ += QChar(char16_t(v));
        }
        skipFallback_ = s.uc;
        return;
    }
    default:
        break;
    }

    switch (s.dest) {
    case Dest::Body:
        WordInBody(kw, hasParam, param);
        return;
    case Dest::FontTable:
        if (kw == Kw::F) {
            FinishFontEntry();
            fontNumber_ = param;
            fontCodePage_ = fontCpg_ = 0;
        } else if (kw == Kw::FCharset) {
            fontCodePage_ = rtf::CodePageForCharset(param);
        } else if (kw == Kw::Cpg) {
            fontCpg_ = std::max(param, 0);
        }
        return;
    case Dest::ColorTable:
        if (kw == Kw::Red || kw == Kw::Green || kw == Kw::Blue) {
            const int v = std::clamp(param, 0, 255);
            (kw == Kw::Red ? red_ : kw == Kw::Green ? green_ : blue_) = v;
            colorSet_ = true;
        }
        return;
    case Dest::ListTable:
        if (kw == Kw::List) {
            s.dest = Dest::List;
            listDef_ = ListDef();
        }
        return;
    case Dest::List:
        if (kw == Kw::ListLevel) {
            s.dest = Dest::ListLevel;
            if (listDef_.nfc.size() < 9) listDef_.nfc.push_back(0);
        } else if (kw == Kw::ListId) {
            listDef_.id = param;
        }
        return;
    case Dest::ListLevel:
        if (kw == Kw::LevelNfc && !listDef_.nfc.empty()) listDef_.nfc.back() = param;
        return;
    case Dest::OverrideTable:
        if (kw == Kw::ListOverride) {
            s.dest = Dest::Override;
            overrideLs_ = overrideListId_ = 0;
        }
        return;
    case Dest::Override:
        if (kw == Kw::ListId) {
            overrideListId_ = param;
        } else if (kw == Kw::Ls) {
            overrideLs_ = param;
        }
        return;
    case Dest::Pn:
        switch (kw) {
        case Kw::PnLvlBlt:
            s.para.pnKind = Numbering::Bullet;
            s.para.pnLevel = 0;
            break;
        case Kw::PnLvlBody:
            if (s.para.pnKind == Numbering::None || s.para.pnKind == Numbering::Bullet) {
                s.para.pnKind = Numbering::Decimal;
            }
            s.para.pnLevel = 0;
            break;
        case Kw::PnLvl:
            if (s.para.pnKind == Numbering::None || s.para.pnKind == Numbering::Bullet) {
                s.para.pnKind = Numbering::Decimal;
            }
            s.para.pnLevel = std::clamp(param - 1, 0, 8);
            break;
        case Kw::PnLvlCont:
            s.para.pnKind = Numbering::None;
            break;
        case Kw::PnDec:
        case Kw::PnUcLtr:
        case Kw::PnLcLtr:
        case Kw::PnUcRm:
        case Kw::PnLcRm:
            if (s.para.pnKind != Numbering::Bullet) {
                s.para.pnKind = kw == Kw::PnDec     ? Numbering::Decimal
                                : kw == Kw::PnUcLtr ? Numbering::UpperAlpha
                                : kw == Kw::PnLcLtr ? Numbering::LowerAlpha
                                : kw == Kw::PnUcRm  ? Numbering::UpperRoman
                                                    : Numbering::LowerRoman;
            }
            break;
        default:
            break;
        }
        return;
    case Dest::Skip:
        return;
    }
}

void Reader::WordInBody(Kw kw, bool hasParam, int param)
{
    GroupState& s = Top();
    CharProps& ch = s.ch;
    ParaState& para = s.para;
    const bool on = !hasParam || param != 0;
    switch (kw) {
    // Document
    case Kw::Ansi:
        ansiCodePage_ = 1252;
        return;
    case Kw::Mac:
        ansiCodePage_ = 10000;
        return;
    case Kw::Pc:
        ansiCodePage_ = 437;
        return;
    case Kw::Pca:
        ansiCodePage_ = 850;
        return;
    case Kw::AnsiCpg:
        if (param > 0) ansiCodePage_ = param;
        return;
    case Kw::Deff:
        defaultFont_ = param;
        InvalidateFormat();
        return;
    case Kw::Pn:
        s.dest = Dest::Pn;
        para.pnKind = Numbering::None;
        para.pnLevel = 0;
        return;
    // Character formatting
    case Kw::Plain:
        ch = CharProps();
        break;
    case Kw::F:
        ch.font = param;
        break;
    case Kw::Fs:
        ch.halfPoints = param > 0 ? std::min(param, kMaxHalfPoints) : kDefaultHalfPoints;
        break;
    case Kw::B:
        ch.bold = on;
        break;
    case Kw::I:
        ch.italic = on;
        break;
    case Kw::Ul:
        ch.underline = on;
        break;
    case Kw::UlNone:
        ch.underline = false;
        break;
    case Kw::Strike:
        ch.strike = on;
        break;
    case Kw::V:
        ch.hidden = on;
        break;
    case Kw::Super:
        ch.valign = 1;
        break;
    case Kw::Sub:
        ch.valign = 2;
        break;
    case Kw::NoSuperSub:
        ch.valign = 0;
        break;
    case Kw::Cf:
        ch.fg = std::max(param, 0);
        break;
    case Kw::Cb:
        ch.bg = std::max(param, 0);
        break;
    // Paragraph formatting
    case Kw::Pard:
        para = ParaState();
        return;
    case Kw::Ql:
        para.align = 0;
        return;
    case Kw::Qc:
        para.align = 1;
        return;
    case Kw::Qr:
        para.align = 2;
        return;
    case Kw::Qj:
        para.align = 3;
        return;
    case Kw::Li:
        para.li = ClampTwips(param);
        return;
    case Kw::Ri:
        para.ri = ClampTwips(param);
        return;
    case Kw::Fi:
        para.fi = ClampTwips(param);
        return;
    case Kw::Sb:
        para.sb = std::clamp(param, 0, kMaxTwips);
        return;
    case Kw::Sa:
        para.sa = std::clamp(param, 0, kMaxTwips);
        return;
    case Kw::Ls:
        para.ls = std::max(param, 0);
        return;
    case Kw::Ilvl:
        para.ilvl = std::clamp(param, 0, 8);
        return;
    // Text
    case Kw::Par:
    case Kw::Row:
        EndParagraph();
        return;
    case Kw::Line:
        AppendChar(QChar::LineSeparator);
        return;
    case Kw::Tab:
    case Kw::Cell:
        AppendChar('\t');
        return;
    case Kw::EmDash:
        AppendChar(0x2014);
        return;
    case Kw::EnDash:
        AppendChar(0x2013);
        return;
    case Kw::LQuote:
        AppendChar(0x2018);
        return;
    case Kw::RQuote:
        AppendChar(0x2019);
        return;
    case Kw::LDblQuote:
        AppendChar(0x201C);
        return;
    case Kw::RDblQuote:
        AppendChar(0x201D);
        return;
    case Kw::Bullet:
        AppendChar(0x2022);
        return;
    case Kw::EmSpace:
        AppendChar(0x2003);
        return;
    case Kw::EnSpace:
        AppendChar(0x2002);
        return;
    case Kw::QmSpace:
        AppendChar(0x2005);
        return;
    case Kw::Zwj:
        AppendChar(0x200D);
        return;
    case Kw::Zwnj:
        AppendChar(0x200C);
        return;
    case Kw::LtrMark:
        AppendChar(0x200E);
        return;
    case Kw::RtlMark:
        AppendChar(0x200F);
        return;
    default:
        return;
    }
    formatDirty_ = true;
}

int Reader::FontEntryCodePage() const
{
    if (fontCpg_) return fontCpg_;
    return fontCodePage_ ? fontCodePage_ : ansiCodePage_;
}

void Reader::FinishFontEntry()
{
    if (fontNumber_ < 0) return;
    decoder_.Decode(FontEntryCodePage(), fontNameBytes_.constData(), fontNameBytes_.size(),
                    fontName_);
    // Control characters (raw tabs, \u escapes) have no place in a font name.
    fontName_.removeIf([](QChar c) { return c.unicode() < 0x20; });
    FontEntry& entry = fonts_[fontNumber_];
    entry.name = fontName_.trimmed();
    entry.codePage = fontCpg_ ? fontCpg_ : fontCodePage_;
    fontNumber_ = -1;
    fontCodePage_ = fontCpg_ = 0;
    fontNameBytes_.clear();
    fontName_.clear();
    InvalidateFormat();
}

void Reader::FinishColor()
{
    colors_.push_back(colorSet_ ? QColor(red_, green_, blue_) : QColor());
    red_ = green_ = blue_ = 0;
    colorSet_ = false;
    InvalidateFormat();
}

int Reader::CodePage()
{
    const int font = Top().ch.font >= 0 ? Top().ch.font : defaultFont_;
    auto it = fonts_.find(font);
    if (it != fonts_.end() && it->second.codePage != 0) return it->second.codePage;
    return ansiCodePage_;
}

QTextCharFormat Reader::MakeCharFormat(const CharProps& ch) const
{
    QTextCharFormat f;
    auto it = fonts_.find(ch.font >= 0 ? ch.font : defaultFont_);
    if (it != fonts_.end() && !it->second.name.isEmpty()) {
        f.setFontFamilies(QStringList(it->second.name));
    }
    f.setFontPointSize(ch.halfPoints / 2.0);
    f.setFontWeight(ch.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(ch.italic);
    f.setFontUnderline(ch.underline);
    f.setFontStrikeOut(ch.strike);
    if (ch.valign == 1) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    if (ch.valign == 2) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (ch.fg > 0 && ch.fg < int(colors_.size()) && colors_[ch.fg].isValid()) {
        f.setForeground(colors_[ch.fg]);
    }
    if (ch.bg > 0 && ch.bg < int(colors_.size()) && colors_[ch.bg].isValid()) {
        f.setBackground(colors_[ch.bg]);
    }
    return f;
}

// Makes runFormat_ the format of the current character state, first inserting the text gathered
// under the previous format.
void Reader::SyncFormat()
{
    if (!formatDirty_) return;
    formatDirty_ = false;
    const CharProps& ch = Top().ch;
    if (runStateValid_ && ch == runState_) return;
    runState_ = ch;
    runStateValid_ = true;
    QTextCharFormat f = MakeCharFormat(ch);
    if (f != runFormat_) {
        FlushText();
        runFormat_ = f;
    }
}

// The font or colour table changed: the same state may now stand for another format.
void Reader::InvalidateFormat()
{
    formatDirty_ = true;
    runStateValid_ = false;
}

void Reader::AppendBytes(const char* bytes, qsizetype size)
{
    if (Top().ch.hidden || size <= 0) return;
    EnsureParagraph();
    SyncFormat();
    const int codePage = CodePage();
    if (codePage != pendingCodePage_) {
        FlushBytes();
        pendingCodePage_ = codePage;
    }
    pendingBytes_.append(bytes, size);
    if (pendingBytes_.size() > kFlushSize && rtf::IsSingleByteCodePage(pendingCodePage_))
        FlushText();
}

void Reader::AppendChar(char32_t ch)
{
    if (Top().ch.hidden) return;
    EnsureParagraph();
    SyncFormat();
    FlushBytes();
    const bool high = ch >= 0xD800 && ch <= 0xDBFF;
    const bool low = ch >= 0xDC00 && ch <= 0xDFFF;
    if (pendingHigh_ && !low) {
        pendingText_ += QChar(kReplacement);
        pendingHigh_ = 0;
    }
    if (high) {
        pendingHigh_ = char16_t(ch);
    } else if (low) {
        if (pendingHigh_) {
            pendingText_ += QChar(pendingHigh_);
            pendingText_ += QChar(char16_t(ch));
            pendingHigh_ = 0;
        } else {
            pendingText_ += QChar(kReplacement);
        }
    } else if (ch > 0xFFFF) {
        const char32_t v = ch - 0x10000;
        pendingText_ += QChar(char16_t(0xD800 + (v >> 10)));
        pendingText_ += QChar(char16_t(0xDC00 + (v & 0x3FF)));
    } else {
        pendingText_ += QChar(char16_t(ch));
    }
    if (pendingText_.size() > kFlushSize && !pendingHigh_) FlushText();
}

void Reader::FlushBytes()
{
    if (pendingBytes_.isEmpty()) return;
    if (pendingHigh_) {
        pendingText_ += QChar(kReplacement);
        pendingHigh_ = 0;
    }
    decoder_.Decode(pendingCodePage_, pendingBytes_.constData(), pendingBytes_.size(),
                    pendingText_);
    pendingBytes_.clear();
}

void Reader::FlushText()
{
    FlushBytes();
    if (pendingHigh_) {
        pendingText_ += QChar(kReplacement);
        pendingHigh_ = 0;
    }
    if (pendingText_.isEmpty()) return;
    // Characters that QTextDocument would take as structure (block and frame separators, object
    // anchors) or cannot show (control characters) are not inserted as they are.
    qsizetype out = 0;
    QChar* text = pendingText_.data();
    for (qsizetype i = 0; i < pendingText_.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c < 0x20 && c != '\t') continue;
        if (c == QChar::ParagraphSeparator) c = QChar::LineSeparator;
        if (c == 0xFDD0 || c == 0xFDD1 || c == QChar::ObjectReplacementCharacter) c = kReplacement;
        text[out++] = QChar(c);
    }
    pendingText_.truncate(out);
    if (!pendingText_.isEmpty()) cursor_.insertText(pendingText_, runFormat_);
    pendingText_.clear();
}

void Reader::EnsureParagraph()
{
    if (!pendingBreak_) return;
    pendingBreak_ = false;
    // Most paragraphs look like the one before, so the new block starts with its formats and
    // FinishBlock seldom has to change them.
    cursor_.insertBlock(blockFormat_, blockCharFormat_);
}

void Reader::EndParagraph()
{
    EnsureParagraph();
    FlushText();
    FinishBlock();
    pendingBreak_ = true;
}

// Gives the cursor's block the paragraph properties in force and, for list paragraphs, a list.
void Reader::FinishBlock()
{
    if (stack_.empty()) return;
    const ParaState& para = Top().para;

    Numbering kind = Numbering::None;
    int level = 0;
    bool fromLs = false;
    if (para.ls > 0) {
        fromLs = true;
        level = para.ilvl;
        kind = Numbering::Bullet;  // an \ls without a readable definition still shows a list
        auto ov = overrides_.find(para.ls);
        if (ov != overrides_.end()) {
            auto def = listDefs_.find(ov->second);
            if (def != listDefs_.end() && !def->second.nfc.empty()) {
                const auto& nfc = def->second.nfc;
                kind = rtf::NumberingForNfc(nfc[std::min<size_t>(size_t(level), nfc.size() - 1)]);
            }
        }
    } else if (para.pnKind != Numbering::None) {
        kind = para.pnKind;
        level = para.pnLevel;
    }

    QTextBlockFormat bf;
    static constexpr Qt::Alignment kAlign[] = {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight,
                                               Qt::AlignJustify};
    bf.setAlignment(kAlign[para.align]);
    double left = para.li / kTwipsPerUnit;
    double indent = para.fi / kTwipsPerUnit;
    if (kind != Numbering::None) {
        // The list draws the bullet in its own indent; the first-line indent is the bullet's.
        left -= (level + 1) * doc_.indentWidth();
        indent = 0;
    }
    left = std::max(0.0, left);
    indent = std::max(indent, -left);
    if (left != 0) bf.setLeftMargin(left);
    if (indent != 0) bf.setTextIndent(indent);
    if (para.ri > 0) bf.setRightMargin(para.ri / kTwipsPerUnit);
    if (para.sb > 0) bf.setTopMargin(para.sb / kTwipsPerUnit);
    if (para.sa > 0) bf.setBottomMargin(para.sa / kTwipsPerUnit);
    if (bf != blockFormat_) {
        cursor_.setBlockFormat(bf);
        blockFormat_ = bf;
    }
    formatDirty_ = true;
    SyncFormat();
    if (runFormat_ != blockCharFormat_) {
        cursor_.setBlockCharFormat(runFormat_);
        blockCharFormat_ = runFormat_;
    }

    if (kind == Numbering::None) {
        pnLists_.clear();  // old-style numbering runs end at a paragraph without it
        return;
    }
    AttachToList(kind, level, fromLs);
}

void Reader::AttachToList(Numbering kind, int level, bool fromLs)
{
    const qint64 key = fromLs ? (qint64(Top().para.ls) << 8) | level : (qint64(kind) << 8) | level;
    ListSlot& slot = (fromLs ? lsLists_ : pnLists_)[key];
    const int limit = kind == Numbering::Bullet ? kBulletsPerList : kNumbersPerList;
    if (slot.list && slot.count < limit && slot.list->format().style() == rtf::StyleFor(kind)) {
        slot.list->add(cursor_.block());
        ++slot.count;
        return;
    }
    QTextListFormat lf;
    lf.setStyle(rtf::StyleFor(kind));
    lf.setIndent(level + 1);
    slot.list = cursor_.createList(lf);
    slot.count = 1;
}

}  // namespace

bool IsRtf(const QByteArray& data)
{
    return data.startsWith("{\\rtf");
}

bool ReadRtf(const QByteArray& data, QTextDocument& doc, QString* error)
{
    if (!IsRtf(data)) {
        if (error) *error = QStringLiteral("Not rich text: the data does not begin with {\\rtf");
        return false;
    }
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    Reader(data, doc).Run();
    doc.setUndoRedoEnabled(undo);
    if (error) error->clear();
    return true;
}

}  // namespace editor
