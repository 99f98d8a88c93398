// The escape-sequence interpreter: every byte shown on the terminal passes through FeedChar.
// A VT100-style subset with ANSI colours, a PC character-set translation and a few private
// sequences. Nothing is ever answered to the host; sequences that are not carried out are written
// to the debug output channel and dropped.
//
// Translation applies to the bytes that are written as characters only: control bytes and the
// bytes of an escape sequence are recognised as received. (Mapping them first would make the
// line-graphics map turn the final byte of ESC [ ... m or ESC [ ? 25 l into a box-drawing
// character, and the Latin map turn 0xA4 into SI.)
#include "platform/Beep.h"
#include "platform/DebugOutput.h"
#include "terminal/Screen.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>

namespace terminal {

namespace {

std::atomic<std::uint32_t> g_traceCount{0};

bool IsDigit(std::uint8_t ch)
{
    return ch >= '0' && ch <= '9';
}

// How a byte takes part in collecting a sequence, one table lookup per byte.
enum : std::uint8_t {
    kEndsEmpty = 1,       // ends a sequence that has collected nothing: ESC 7, ESC M, ...
    kCollected = 2,       // always collected: parameters and their separators
    kStartsSequence = 4,  // collected as the first byte: ESC [, ESC ( ...
    kNamesCharset = 8,    // a first byte after which the next byte names a character set
};

constexpr std::array<std::uint8_t, 256> MakeEscapeClasses()
{
    std::array<std::uint8_t, 256> t{};
    for (char c : std::string_view("78<=>DEHM"))
        t[static_cast<std::uint8_t>(c)] |= kEndsEmpty;
    for (char c : std::string_view(" 0123456789;?"))
        t[static_cast<std::uint8_t>(c)] |= kCollected;
    for (char c : std::string_view("()*+["))
        t[static_cast<std::uint8_t>(c)] |= kStartsSequence;
    for (char c : std::string_view("()*+"))
        t[static_cast<std::uint8_t>(c)] |= kNamesCharset;
    return t;
}

constexpr std::array<std::uint8_t, 256> kEscapeClass = MakeEscapeClasses();

// Counts of cursor motions are cut before adding them: any count past two line widths moves the
// cursor as far as the largest one does.
constexpr int kMotionLimit = 2 * kLineCells;

int MotionCount(std::int32_t p)
{
    if (p <= 0) return 1;
    return std::min<std::int32_t>(p, kMotionLimit);
}

// A short text built in place, so that traces need no heap.
class TraceText {
public:
    void Add(std::string_view s)
    {
        const size_t n = std::min(s.size(), sizeof(buf_) - len_);
        std::copy_n(s.data(), n, buf_ + len_);
        len_ += n;
    }
    void Add(char c) { Add(std::string_view(&c, 1)); }
    void AddHex2(std::uint32_t v)
    {
        char tmp[16];
        const int n = std::snprintf(tmp, sizeof(tmp), "%02X", static_cast<unsigned>(v));
        Add(std::string_view(tmp, static_cast<size_t>(n)));
    }
    std::string_view View() const { return {buf_, len_}; }

private:
    char buf_[192];
    size_t len_ = 0;
};

}  // namespace

void DebugTrace(std::string_view text)
{
    const std::uint32_t n = ++g_traceCount;
    char number[16];
    const int len = std::snprintf(number, sizeof(number), "%04X ", static_cast<unsigned>(n));
    platform::DebugOutput(std::string_view(number, static_cast<size_t>(len)));
    platform::DebugOutput(text);
}

std::uint32_t DebugTraceCount()
{
    return g_traceCount.load();
}

void TScreen::FeedText(std::string_view text)
{
    for (char c : text)
        FeedChar(static_cast<std::uint8_t>(c));
}

void TScreen::FeedOther(std::uint8_t ch)
{
    if (literalCount_ > 0) {
        // A literal run: odd counts write the byte as it is, even counts drop it.
        if (literalCount_ & 1) PutChar(ch);
        --literalCount_;
        return;
    }
    if (inEscape_) {
        CollectEscape(ch);
        return;
    }
    if (ch >= 0x20) {
        PutChar(translateOn_ ? (*receiveMap_)[ch] : ch);
        return;
    }
    switch (ch) {
    case 0x00:
        break;
    case 0x07:
        platform::Beep(platform::BeepKind::Information);
        break;
    case 0x08:
        DoBackSpace();
        break;
    case 0x09:
        DoTab();
        break;
    case 0x0A:
        DoLineFeed();
        if (autoCR_) DoCarriageReturn();
        break;
    case 0x0D:
        DoCarriageReturn();
        if (autoLF_) DoLineFeed();
        break;
    case 0x0E:
        receiveMap_ = &LineGraphicsTable;
        sendMap_ = &LineGraphicsTable;
        break;
    case 0x0F:
        receiveMap_ = &LatinToOemTable;
        sendMap_ = &LatinToOemTable;
        break;
    case 0x1B:
        escapeLen_ = 0;
        inEscape_ = true;
        break;
    default:
        // VT, FF and the other control bytes are shown as characters.
        PutChar(translateOn_ ? (*receiveMap_)[ch] : ch);
        break;
    }
}

void TScreen::DoTab()
{
    // Fixed stops every 8 columns; at least one step, never past the last cell.
    do {
        if (cursorCol_ >= kLastCol) break;
        ++cursorCol_;
    } while (cursorCol_ % 8 != 0);
}

void TScreen::CollectEscape(std::uint8_t ch)
{
    const std::uint8_t cls = kEscapeClass[ch];
    bool isFinal;
    if (escapeLen_ == 0)
        isFinal = (cls & kEndsEmpty) || !(cls & (kCollected | kStartsSequence));
    else if (escapeLen_ == 1 && (kEscapeClass[escape_[0]] & kNamesCharset))
        isFinal = true;  // names a character set, whatever the byte is
    else
        isFinal = !(cls & kCollected);

    if (!isFinal) {
        escape_[escapeLen_++] = ch;
        if (escapeLen_ >= kEscapeBufferSize) {
            // Over-long: abandoned, and what follows is ordinary text.
            platform::Beep(platform::BeepKind::Information);
            escapeLen_ = 0;
            inEscape_ = false;
        }
        return;
    }
    // Leave the sequence before carrying it out, so that a handler raised by it may feed bytes.
    inEscape_ = false;
    DispatchEscape(ch);
    if (!inEscape_) escapeLen_ = 0;
}

TParam TScreen::ReadParam(int start) const
{
    int i = std::max(start, 0);
    while (i < escapeLen_ && escape_[i] == ' ')
        ++i;
    std::int32_t value = 0;
    while (i < escapeLen_ && IsDigit(escape_[i])) {
        const int digit = escape_[i] - '0';
        if (value > (kParamLimit - digit) / 10)
            value = kParamLimit;
        else
            value = value * 10 + digit;
        ++i;
    }
    return {value, i};
}

int TScreen::AfterSemicolon(int pos) const
{
    while (pos < escapeLen_ && escape_[pos] == ' ')
        ++pos;
    if (pos < escapeLen_ && escape_[pos] == ';') return pos + 1;
    return -1;
}

void TScreen::Report(std::string_view what, std::uint8_t final) const
{
    TraceText text;
    text.Add(what);
    text.Add(EscapeBuffer());
    text.Add(static_cast<char>(final));
    text.Add("\r\n");
    DebugTrace(text.View());
}

void TScreen::ReportUnimplemented(std::uint8_t final) const
{
    Report("Unimplemented Escape Sequence: ", final);
}

void TScreen::ReportInvalid(std::uint8_t final) const
{
    Report("Invalid Escape Sequence: ", final);
}

void TScreen::DispatchEscape(std::uint8_t final)
{
    if (escapeLen_ == 0) {
        switch (final) {
        case '7':
            SaveCursor();
            break;
        case '8':
            RestoreCursor();
            break;
        case '<':
        case '=':
        case '>':
        case 'H':
            break;
        case 'D':
        case 'E':
            ReportUnimplemented(final);
            break;
        case 'M':
            DoReverseIndex();
            break;
        default:
            // Unknown: reported, and the byte after ESC is shown.
            ReportInvalid(final);
            PutChar(translateOn_ ? (*receiveMap_)[final] : final);
            break;
        }
        return;
    }
    switch (escape_[0]) {
    case '[':
        DispatchControlSequence(final);
        break;
    case '(':
        if (final == '0' || final == 'B') {
            designated_[0] = final;
            const XlatTable& map = final == '0' ? LineGraphicsTable : LatinToOemTable;
            receiveMap_ = &map;
            sendMap_ = &map;
            translateOn_ = translateDefault_;
        } else {
            ReportInvalid(final);
        }
        break;
    case ')':
        designated_[1] = final;
        break;
    case '*':
        designated_[2] = final;
        break;
    case '+':
        designated_[3] = final;
        break;
    case ' ':
        if (final != 'F') ReportInvalid(final);
        break;
    default:
        ReportInvalid(final);
        break;
    }
}

void TScreen::DispatchControlSequence(std::uint8_t final)
{
    const TParam first = ReadParam(1);
    const std::int32_t p = first.Value;
    // The second parameter, read only when a ';' follows the first.
    auto second = [&](std::int32_t missing) {
        const int at = AfterSemicolon(first.Next);
        return at < 0 ? missing : ReadParam(at).Value;
    };

    switch (final) {
    case '@':
        InsertChars(p);
        break;
    case 'A':
        cursorRow_ = std::max(0, cursorRow_ - MotionCount(p));
        break;
    case 'B':
        cursorRow_ = std::min(rows_ - 1, cursorRow_ + MotionCount(p));
        break;
    case 'C':
        cursorCol_ += MotionCount(p);
        if (cursorCol_ >= cols_) {
            if (wrapMode_) {
                cursorCol_ -= cols_;
                cursorRow_ = std::min(rows_ - 1, cursorRow_ + 1);
                // A count past the rest of this line and the whole next one stops at the end of
                // the next line, as it would without wrapping.
                if (cursorCol_ >= cols_) cursorCol_ = cols_ - 1;
            } else {
                cursorCol_ = cols_ - 1;
            }
        }
        break;
    case 'D':
        cursorCol_ = std::max(0, cursorCol_ - MotionCount(p));
        break;
    case 'H':
    case 'f':
        MoveCursor(second(1) - 1, p - 1);
        break;
    case 'I':
        PrivateSequence(final);
        break;
    case 'J':
        if (p == 0) {
            currentAttr_ = kDefaultAttr;
            EraseToEndOfScreen();
        } else if (p == 1) {
            EraseToCursorLine();
        } else if (p == 2) {
            BlankScreen();
        } else {
            ReportInvalid(final);
        }
        break;
    case 'K':
        EraseToEndOfLine();
        break;
    case 'L':
        InsertLines(p);
        break;
    case 'M':
        DeleteLines(p);
        break;
    case 'P':
        DeleteChars(p);
        break;
    case 'S':
        ScrollRegionUp();
        break;
    case 'T':
    case 'n':  // device status and the like: nothing is sent to the host
        ReportUnimplemented(final);
        break;
    case 'g':
    case '>':
        break;
    case 'h':
        SetMode(true, final);
        break;
    case 'l':
        SetMode(false, final);
        break;
    case 'm':
        SelectAttributes();
        break;
    case 'r':
        if (p == 0) {
            scrollTop_ = 0;
            scrollBottom_ = rows_ - 1;
        } else {
            SetScrollRegion(p, second(1));
        }
        break;
    case 's':
        SaveCursor();
        break;
    case 'u':
        RestoreCursor();
        break;
    default:
        ReportInvalid(final);
        break;
    }
}

void TScreen::SetMode(bool on, std::uint8_t final)
{
    // Only the private form ESC [ ? p h / l is understood.
    if (escapeLen_ < 2 || escape_[1] != '?') {
        ReportUnimplemented(final);
        return;
    }
    switch (ReadParam(2).Value) {
    case 1:
        appCursorKeys_ = on;
        break;
    case 4:
        break;
    case 7:
        wrapMode_ = on;
        break;
    case 25:
        cursorHidden_ = !on;
        TriggerCursorShowHide();
        break;
    default:
        ReportUnimplemented(final);
        break;
    }
}

void TScreen::PrivateSequence(std::uint8_t final)
{
    const TParam first = ReadParam(1);
    switch (first.Value) {
    case 0:
        translateOn_ = true;
        break;
    case 1: {
        const int at = AfterSemicolon(first.Next);
        literalCount_ = at < 0 ? 1 : ReadParam(at).Value;
        break;
    }
    case 2:
        // Accepted with its second parameter; no effect.
        break;
    case 3: {
        std::int32_t q[4] = {0, 0, 0, 0};
        int next = first.Next;
        for (std::int32_t& value : q) {
            const int at = AfterSemicolon(next);
            if (at < 0) break;
            const TParam param = ReadParam(at);
            value = param.Value;
            next = param.Next;
        }
        TraceText text;
        text.Add("Special key ");
        text.AddHex2(static_cast<std::uint32_t>(q[1]));
        text.AddHex2(static_cast<std::uint32_t>(q[0]));
        text.Add(' ');
        text.AddHex2(static_cast<std::uint32_t>(q[3]));
        text.AddHex2(static_cast<std::uint32_t>(q[2]));
        DebugTrace(text.View());
        break;
    }
    case 4:
        translateOn_ = false;
        break;
    default:
        ReportUnimplemented(final);
        break;
    }
}

void TScreen::SelectAttributes()
{
    if (escapeLen_ == 1) {
        currentAttr_ = kDefaultAttr;
        reverseOn_ = false;
    } else {
        int i = 1;
        while (i < escapeLen_) {
            const std::uint8_t b = escape_[i];
            if (b == ' ' || b == ';' || b == '[') {
                ++i;
                continue;
            }
            const TParam param = ReadParam(i);
            if (param.Next == i) {
                // A byte that is no parameter ('?'): stepped over without effect.
                ++i;
                continue;
            }
            i = param.Next;
            const std::int32_t v = param.Value;
            if (v == 0 || v == 27) {
                currentAttr_ = kDefaultAttr;
                reverseOn_ = false;
            } else if (v == 1) {
                currentAttr_ |= kAttrBright;
            } else if (v == 4) {
                // underline: accepted, not shown
            } else if (v == 5) {
                currentAttr_ |= kAttrBlink;
            } else if (v == 7) {
                reverseOn_ = true;
            } else if (v == 8) {
                currentAttr_ = 0;
            } else if (v == 10) {
                highBitOn_ = false;
            } else if (v == 12) {
                highBitOn_ = true;
            } else if (v == 22) {
                currentAttr_ &= static_cast<std::uint8_t>(~kAttrBright);
            } else if (v >= 30 && v <= 37) {
                currentAttr_ = static_cast<std::uint8_t>((currentAttr_ & 0xF8) | (v % 10));
            } else if (v >= 40 && v <= 47) {
                currentAttr_ = static_cast<std::uint8_t>((currentAttr_ & 0x8F) | ((v % 10) << 4));
            } else {
                ReportInvalid('m');
            }
        }
    }
    if (reverseOn_) {
        // Exchange the two colours; bright and blink stay. Done after every attribute sequence
        // while reverse is on, so a later one without 0 or 27 exchanges them back.
        const std::uint8_t a = currentAttr_;
        currentAttr_ = static_cast<std::uint8_t>(((a & 7) << 4) | ((a >> 4) & 7) | (a & 0x88));
    }
}

}  // namespace terminal
