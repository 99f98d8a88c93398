// The terminal's screen model: a fixed stock of lines of character cells with one attribute byte
// each, the cursor, the scroll region, the current attribute, the host's mode flags, the two
// translation maps and the rectangle of cells changed since the last repaint; plus the
// escape-sequence interpreter that turns received bytes into screen operations (Interpreter.cpp).
//
// Nothing here draws. A view owns one TScreen, feeds it bytes with FeedChar/FeedText, paints
// Line(0..50) (Rows() lines are in use; a tall window may show more), invalidates DirtyRect() or
// everything when RepaintAll() is set, then calls ResetDirty().
//
// Geometry limits: 51 lines (0..50) of 133 cells (0..132). Rows() stays within 1..50 and Cols()
// within 1..132 (SetSize limits larger or smaller requests), the cursor row within 0..Rows()-1 and
// the cursor column within 0..132. The column may stand at or beyond Cols() while WrapMode() is
// off: text written there is kept in the hidden cells and, from column 132 on, overwrites cell 132.
#pragma once

#include "terminal/XlatTables.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace terminal {

inline constexpr int kLineCount = 51;   // lines 0..50 of the stock
inline constexpr int kLineCells = 133;  // cells 0..132 of a line
inline constexpr int kMaxRows = 50;     // line index Rows is touched by the erases, so Rows <= 50
inline constexpr int kMaxCols = 132;
inline constexpr int kLastCol = kLineCells - 1;
inline constexpr std::uint8_t kDefaultAttr = 7;  // white on black
inline constexpr int kEscapeBufferSize = 80;
// Parameters whose digits do not fit a signed 32-bit value read as this value.
inline constexpr std::int32_t kParamLimit = 0x7FFFFFFF;

// Attribute byte: bits 0..2 foreground colour, bit 3 bright, bits 4..6 background, bit 7 blink.
inline constexpr std::uint8_t kAttrBright = 0x08;
inline constexpr std::uint8_t kAttrBlink = 0x80;

// One screen line: the character and the attribute of each of the 133 cells.
struct TLine {
    std::array<std::uint8_t, kLineCells> Chars;
    std::array<std::uint8_t, kLineCells> Attrs;

    TLine() { ClearLine(kDefaultAttr); }
    // Every cell becomes a space with the given attribute.
    void ClearLine(std::uint8_t attr)
    {
        Chars.fill(0x20);
        Attrs.fill(attr);
    }
};

// Smallest rectangle of cells (columns Left..Right, lines Top..Bottom) changed since the last
// ResetDirty. Empty is (9999, 9999, -1, -1).
struct TDirtyRect {
    std::int32_t Left = 9999;
    std::int32_t Top = 9999;
    std::int32_t Right = -1;
    std::int32_t Bottom = -1;

    bool IsEmpty() const { return Right < Left || Bottom < Top; }
};

// Result of ReadParam: the value read and the index of the first byte not consumed.
struct TParam {
    std::int32_t Value;
    int Next;
};

class TScreen {
public:
    TScreen();
    virtual ~TScreen();
    TScreen(const TScreen&) = delete;
    TScreen& operator=(const TScreen&) = delete;

    // --- Raised when the host shows or hides the cursor (ESC [ ? 25 h / l).
    std::function<void(TScreen* sender)> OnCursorShowHide;

    // --- The interpreter (Interpreter.cpp).
    // Interprets one received byte: literal run, control character, escape-sequence collection or
    // a character written at the cursor. Never allocates on this path.
    void FeedChar(std::uint8_t ch)
    {
        // Ordinary text takes the short way.
        if (ch >= 0x20 && !inEscape_ && literalCount_ == 0) {
            PutChar(translateOn_ ? (*receiveMap_)[ch] : ch);
            return;
        }
        FeedOther(ch);
    }
    void FeedText(std::string_view text);
    // Reads a decimal parameter of EscapeBuffer() from index start (0-based: index 0 is the byte
    // after ESC, so the parameters of ESC [ begin at 1): spaces are skipped, then the digits are
    // read (0 when there are none; saturating at kParamLimit). Never reads past the collected
    // bytes.
    TParam ReadParam(int start) const;
    // Carries out the completed sequence EscapeBuffer() + final.
    void DispatchEscape(std::uint8_t final);
    // Debug traces "Unimplemented Escape Sequence: " / "Invalid Escape Sequence: " followed by
    // the collected bytes, the final byte, CR and LF.
    void ReportUnimplemented(std::uint8_t final) const;
    void ReportInvalid(std::uint8_t final) const;

    // --- Screen operations. Line and column numbers are 0-based.
    void MarkCell(int row, int col)
    {
        if (repaintAll_) return;
        if (row < dirty_.Top) dirty_.Top = row;
        if (row > dirty_.Bottom) dirty_.Bottom = row;
        if (col < dirty_.Left) dirty_.Left = col;
        if (col > dirty_.Right) dirty_.Right = col;
    }
    void ResetDirty()
    {
        dirty_ = TDirtyRect{};
        repaintAll_ = false;
    }
    void ScrollRegionUp();
    void ScrollRegionDown();
    void DoLineFeed();
    void DoReverseIndex();
    void DoCarriageReturn() { cursorCol_ = 0; }
    void DoBackSpace()
    {
        if (cursorCol_ > 0) --cursorCol_;
    }
    // Moves the cursor, each coordinate limited to the lines and columns in use.
    void MoveCursor(int col, int row);
    void SaveCursor();
    // Goes to the saved position (or home when none), then forgets it.
    void RestoreCursor();
    // 1-based lines; an empty, reversed or out-of-range region gives the whole screen.
    void SetScrollRegion(int top1, int bottom1);
    // Clears lines 0..Rows() with the current attribute and homes the cursor.
    void BlankScreen();
    void EraseToEndOfLine();
    void EraseToEndOfScreen();
    void EraseToCursorLine();
    // Counts of 0 or less count as 1.
    void InsertLines(int n);
    void DeleteLines(int n);
    void InsertChars(int n);
    void DeleteChars(int n);
    // Writes one character at the cursor and advances it (wrapping first when WrapMode is on).
    void PutChar(std::uint8_t ch)
    {
        if (cursorCol_ >= cols_ && wrapMode_) WrapToNextLine();
        if (highBitOn_) ch |= 0x80;
        TLine& line = Cur();
        line.Chars[cursorCol_] = ch;
        line.Attrs[cursorCol_] = currentAttr_;
        MarkCell(cursorRow_, cursorCol_);
        if (cursorCol_ < kLastCol) ++cursorCol_;
    }
    // Changes the lines and columns in use, each limited to the model (1..50, 1..132). A changed
    // row count resets the scroll region; any change blanks the screen. Unchanged values do
    // nothing.
    void SetSize(int newRows, int newCols);

    // --- State.
    // Line `index` of the stock, 0..50; any other index gives a blank line.
    const TLine& Line(int index) const
    {
        if (index < 0 || index >= kLineCount) return BlankLine();
        return *lines_[index];
    }
    std::int32_t CursorRow() const { return cursorRow_; }
    std::int32_t CursorCol() const { return cursorCol_; }
    std::int32_t SavedRow() const { return savedRow_; }
    std::int32_t SavedCol() const { return savedCol_; }
    std::int32_t ScrollTop() const { return scrollTop_; }
    std::int32_t ScrollBottom() const { return scrollBottom_; }
    std::uint8_t CurrentAttr() const { return currentAttr_; }
    std::int32_t Rows() const { return rows_; }
    std::int32_t Cols() const { return cols_; }
    bool HighBitOn() const { return highBitOn_; }
    bool ReverseOn() const { return reverseOn_; }
    std::string_view EscapeBuffer() const
    {
        return {reinterpret_cast<const char*>(escape_.data()), static_cast<size_t>(escapeLen_)};
    }
    bool InEscape() const { return inEscape_; }
    std::int32_t LiteralCount() const { return literalCount_; }
    bool CursorHidden() const { return cursorHidden_; }
    bool AppCursorKeys() const { return appCursorKeys_; }
    std::uint8_t DesignatedG0() const { return designated_[0]; }
    std::uint8_t DesignatedG1() const { return designated_[1]; }
    std::uint8_t DesignatedG2() const { return designated_[2]; }
    std::uint8_t DesignatedG3() const { return designated_[3]; }
    bool RepaintAll() const { return repaintAll_; }
    const TDirtyRect& DirtyRect() const { return dirty_; }

    // State the owning view sets.
    bool HasFocus() const { return hasFocus_; }
    void SetHasFocus(bool on) { hasFocus_ = on; }
    bool AutoLF() const { return autoLF_; }
    void SetAutoLF(bool on) { autoLF_ = on; }
    bool AutoCR() const { return autoCR_; }
    void SetAutoCR(bool on) { autoCR_ = on; }
    bool WrapMode() const { return wrapMode_; }
    void SetWrapMode(bool on) { wrapMode_ = on; }
    // While TranslateOn is set received characters go through ReceiveMap; while it is clear the
    // view maps typed characters through SendMap instead.
    bool TranslateOn() const { return translateOn_; }
    void SetTranslateOn(bool on) { translateOn_ = on; }
    // The value TranslateOn returns to when the host designates G0.
    bool TranslateDefault() const { return translateDefault_; }
    void SetTranslateDefault(bool on) { translateDefault_ = on; }
    // Both maps start as LatinToOemTable; the tables must outlive the screen.
    const XlatTable& ReceiveMap() const { return *receiveMap_; }
    void SetReceiveMap(const XlatTable& map) { receiveMap_ = &map; }
    const XlatTable& SendMap() const { return *sendMap_; }
    void SetSendMap(const XlatTable& map) { sendMap_ = &map; }

protected:
    virtual void TriggerCursorShowHide();

private:
    static const TLine& BlankLine();
    TLine& Cur() { return *lines_[cursorRow_]; }
    void ClearLines(int first, int last, std::uint8_t attr);
    void FeedOther(std::uint8_t ch);
    void WrapToNextLine();
    void CollectEscape(std::uint8_t ch);
    void DoTab();
    // Interpreter steps (Interpreter.cpp).
    void DispatchControlSequence(std::uint8_t final);
    void SelectAttributes();
    void SetMode(bool on, std::uint8_t final);
    void PrivateSequence(std::uint8_t final);
    // Index just past the ';' that follows (after spaces) position `pos`, or -1 when none does.
    int AfterSemicolon(int pos) const;
    void Report(std::string_view what, std::uint8_t final) const;

    std::array<std::unique_ptr<TLine>, kLineCount> lines_;
    std::int32_t cursorRow_ = 0;
    std::int32_t cursorCol_ = 0;
    std::int32_t savedRow_ = -1;
    std::int32_t savedCol_ = -1;
    std::int32_t scrollTop_ = 0;
    std::int32_t scrollBottom_ = 24;
    std::uint8_t currentAttr_ = kDefaultAttr;
    bool highBitOn_ = false;
    bool reverseOn_ = false;
    std::int32_t rows_ = 25;
    std::int32_t cols_ = 80;
    std::array<std::uint8_t, kEscapeBufferSize> escape_{};
    std::int32_t escapeLen_ = 0;
    bool inEscape_ = false;
    bool hasFocus_ = false;
    bool autoLF_ = false;
    bool autoCR_ = false;
    bool wrapMode_ = false;
    bool cursorHidden_ = false;
    bool appCursorKeys_ = false;
    bool translateOn_ = false;
    bool translateDefault_ = false;
    std::int32_t literalCount_ = 0;
    const XlatTable* receiveMap_ = &LatinToOemTable;
    const XlatTable* sendMap_ = &LatinToOemTable;
    std::array<std::uint8_t, 4> designated_{};
    bool repaintAll_ = false;
    TDirtyRect dirty_;
};

// Program-wide debug trace: writes the trace number (4 or more uppercase hexadecimal digits, the
// first trace is 0001) and a space, then the text, as two pieces on the platform debug output.
void DebugTrace(std::string_view text);
// Number of traces written so far.
std::uint32_t DebugTraceCount();

}  // namespace terminal
