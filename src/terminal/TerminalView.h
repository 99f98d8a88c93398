// TCustomEmulVT / TEmulVT: the terminal view. TCustomEmulVT is a focusable, custom-painted widget
// that owns one TScreen, feeds it the bytes to display, paints its cells in a fixed grid (a
// 16-colour palette or monochrome), keeps a caret on the cursor cell, offers a vertical scroll bar
// over the line stock, turns key presses into the bytes a host expects (three function-key tables,
// control letters, dead keys), can log received bytes to "EMULVT.LOG" and frames a marking
// rectangle that its telnet descendant sets. TEmulVT adds nothing.
//
// Geometry (client coordinates, inside the border): the grid starts 6 pixels from the left and 4
// from the top; buffer line L is drawn at window row L - ViewOffset; the characters of column k
// start at x = 6 + k * CharWidth, y = 4 + row * LineHeight; a cell's background spans y + leading
// to y + LineHeight + leading, leading being the font's internal leading. Every glyph is drawn
// whole inside its cell: the cell is never lower than the font's glyphs (FontHeight, the ink of
// the 256 glyphs the grid shows, above and below the baseline, and at least the font's ascent
// plus descent), so a LineHeight below it (a stored setting, a font made larger) grows to it, and
// the spare height of a higher cell is shared above and below the glyphs.
//
// Refreshing and painting. RefreshScreen only notes that the screen's changes are to be painted
// and asks for one flush; the flush runs from the event loop, at most once per frame (kFrameMs),
// turns the screen's dirty record (the changed cells as a pixel rectangle, or everything when
// RepaintAll is set) and the cursor cell into rectangles for QWidget::update, which paints them
// together, and empties the record, which thus spans every refresh since the last flush. A flood
// of received bytes costs the interpreter plus a few flag updates per byte, and painting keeps
// pace with the screen, not with the network. Nothing is erased before painting: the paint
// routine covers every pixel of the client area it is asked for (also below the 50 lines of the
// stock and right of the grid, to the last pixel).
//
// Caps Lock: its state is told by the case of the letter a key event carries (an upper-case
// letter without Shift, or a lower-case one with Shift).
//
// Cells hold code page 437 bytes; they are drawn through Cp437ToUnicode with the view's font,
// which is always fixed pitch: a font whose family is not installed or not fixed pitch ("Terminal",
// "System", "Courier New" stored by other systems) is replaced by the system's fixed-pitch family
// at the same size and style. CharWidth is the widest advance (rounded up to a whole pixel) among
// the 256 glyphs the grid can show, and every glyph is drawn at its cell's left edge, so columns
// never drift.
//
// The caret is the view's own: 2 pixels wide and LineHeight high, drawn inverted over the cursor
// cell and blinking at the platform's cursor flash rate while the view has the focus and the host
// has not hidden the cursor.
//
// Keys. While the view has the focus its KeyDownFilter is the application-wide key filter
// (SetApplicationKeyFilter): it sees each key press before the widget does, before Tab moves the
// focus and before shortcuts run (the shortcut query that precedes a key press is answered the
// same way, without acting). Key presses with Alt held and without Ctrl are system keys (menu
// mnemonics) and go their ordinary way, as does every key the filter does not take; those reach
// keyPressEvent, whose text goes to KeyPress character by character (ISO 8859-1; other
// characters as '?').
//
// Threading: the GUI thread only.
#pragma once

#include "terminal/KeyMap.h"
#include "terminal/Screen.h"

#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QRawFont>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QFile;
class QKeyEvent;
class QScrollBar;

namespace terminal {
struct FunctionKeyEntry;
}

// ---- The application-wide key filter ---------------------------------------------------------

// One key event offered to the filter: a key press (Query false) or the shortcut query that comes
// before it (Query true: the filter answers whether it would take the key and must not act).
struct TKeyMsg {
    QObject* Receiver = nullptr;
    QKeyEvent* Event = nullptr;
    bool Query = false;
};
// Answers true when the key is handled (it then goes no further).
using TKeyFilter = std::function<bool(const TKeyMsg& Msg)>;

// The program's one key filter slot (empty: none). Setting it returns the previous filter.
TKeyFilter SetApplicationKeyFilter(TKeyFilter Filter);
const TKeyFilter& ApplicationKeyFilter();

// ---- The view ------------------------------------------------------------------------------

// A function-key sequence for the host.
using TKeyBufferEvent = std::function<void(QObject* Sender, const char* Buffer, std::int32_t Len)>;
// A typed character; the handler may change it (0: nothing).
using TKeyPressEvent = std::function<void(QObject* Sender, char& Key)>;

enum class TBorderStyle { bsNone, bsSingle };

// A pixel rectangle by its edges, as the marking code keeps it (Top -1: no rectangle).
struct TPixelRect {
    int Left = 0;
    int Top = -1;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TPixelRect&) const = default;
};

class TCustomEmulVT : public QWidget {
    Q_OBJECT
public:
    // Margins of the grid inside the client area.
    static constexpr int kLeftMargin = 6;
    static constexpr int kTopMargin = 4;
    static constexpr int kScrollBarWidth = 16;
    // Painting runs at most once per this many milliseconds.
    static constexpr int kFrameMs = 16;
    // Lines the paint routine and the scroll bar reach (0..49).
    static constexpr int kViewLines = 50;
    // LineHeight is kept within these bounds (a height of 0 would divide by zero).
    static constexpr int kMinLineHeight = 1;
    static constexpr int kMaxLineHeight = 1024;

    // Colours of attribute colour numbers 0..15.
    static const std::array<QRgb, 16> Palette;

    explicit TCustomEmulVT(QWidget* parent = nullptr);
    ~TCustomEmulVT() override;

    // ---- Operations ----
    // Shows one received byte: logged (when Log is on), interpreted, refreshed (AutoRepaint).
    [[gnu::always_inline]] void DisplayChar(char Ch)
    {
        if (caretShown_) HideCaret();
        if (log_) LogByte(Ch);
        terminal::TScreen* s = screen_.get();
        s->FeedChar(static_cast<std::uint8_t>(Ch));
        if (autoRepaint_) RefreshScreen(*s);
    }
    void DisplayText(std::string_view S);
    void DisplayBuffer(const char* Buffer, std::int32_t Len);
    // Blanks the screen (no refresh by itself).
    void ClearTerminal();
    // Asks for the screen's changes and the cursor cell to be painted, shows the caret (unless
    // the host hid the cursor) and places it. Cheap enough to run for every received byte: the
    // flush turns the screen's dirty record into pixels and empties it.
    void RefreshScreen() { RefreshScreen(*screen_); }
    // Everything is painted again at the next flush.
    void InvalidateAll();
    void PlaceCaret();
    void MeasureFont();
    // Function-key sequences: to OnKeyBuffer when set, else byte by byte through KeyPress.
    virtual void SendKeySequence(const char* Buffer, std::int32_t Len);
    const terminal::FunctionKeyEntry* LookupFunctionKey(std::uint8_t ScanCode, std::uint8_t Shift,
                                                        bool Extended) const;
    bool HandleFunctionKey(std::uint8_t ScanCode, std::uint8_t Shift, bool Extended);
    // A typed character: SendMap unless TranslateOn, OnKeyPress, local echo.
    virtual void KeyPress(char& Key);

    // Pixel conversions (client coordinates).
    int PixelToRow(int Y) const;
    int PixelToCol(int X) const;
    int SnapPixelToTop(int Y) const { return PixelToRow(Y) * lineHeight_ + kTopMargin; }
    int SnapPixelToLeft(int X) const { return PixelToCol(X) * charWidth_ + kLeftMargin; }

    // ---- Properties ----
    terminal::TScreen& Screen() { return *screen_; }
    const terminal::TScreen& Screen() const { return *screen_; }
    bool AutoLF() const { return screen_->AutoLF(); }
    void SetAutoLF(bool Value) { screen_->SetAutoLF(Value); }
    bool AutoCR() const { return screen_->AutoCR(); }
    void SetAutoCR(bool Value) { screen_->SetAutoCR(Value); }
    // True: the host uses the PC character set (received bytes shown as they are, typed ones
    // through SendMap); false: received bytes go through ReceiveMap.
    bool Xlat() const { return !screen_->TranslateDefault(); }
    void SetXlat(bool Value);
    int Rows() const { return screen_->Rows(); }
    int Cols() const { return screen_->Cols(); }
    // Limited to 1..50 and 1..132; an unchanged value does nothing, another one blanks the screen.
    void SetRows(int Value);
    void SetCols(int Value);
    // The cell's height: the LineHeight set, but not below FontHeight.
    int LineHeight() const { return lineHeight_; }
    // Stored only (no re-measure, no repaint), within kMinLineHeight..kMaxLineHeight.
    void SetLineHeight(int Value);
    // The LineHeight as set (MeasureFont sets the font's height), which the cell may exceed.
    int LineHeightSetting() const { return lineHeightSetting_; }
    // The height the font's glyphs need (see Geometry above); MeasureFont sets it.
    int FontHeight() const { return fontHeight_; }
    int CharWidth() const { return charWidth_; }
    int Leading() const { return leading_; }
    const QFont& Font() const { return font_; }
    void SetFont(const QFont& Value);
    bool Log() const { return log_; }
    // On: opens "EMULVT.LOG" in the current directory for appending and writes "<Open>"; off:
    // writes "<Close>" and closes it. Failures raise std::runtime_error with the file error text.
    void SetLog(bool Value);
    bool AutoRepaint() const { return autoRepaint_; }
    void SetAutoRepaint(bool Value) { autoRepaint_ = Value; }
    bool LocalEcho() const { return localEcho_; }
    void SetLocalEcho(bool Value) { localEcho_ = Value; }
    bool MonoChrome() const { return monoChrome_; }
    void SetMonoChrome(bool Value);
    // 0 SCO, 1 VT100, 2 A11; any other value uses the VT100 table.
    int FKeys() const { return fKeys_; }
    void SetFKeys(int Value) { fKeys_ = Value; }
    TBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TBorderStyle Value);
    int ViewOffset() const { return viewOffset_; }
    // Limited to 0..49; repaints.
    void SetViewOffset(int Value);
    QScrollBar* ScrollBar() const { return scrollBar_; }
    // The client area (inside the border) in widget coordinates.
    QRect ClientRect() const;

    // The marking rectangle (pixels), framed by the paint routine unless Top is -1.
    const TPixelRect& MarkRect() const { return markRect_; }

    // The caret, for tests and the paint routine.
    bool CaretCreated() const { return caretCreated_; }
    bool CaretShown() const { return caretShown_; }
    QPoint CaretPos() const
    {
        return QPoint(kLeftMargin + caretCol_ * charWidth_,
                      kTopMargin + (caretRow_ - viewOffset_) * lineHeight_);
    }
    bool CircumflexPending() const { return circumflexPending_; }
    // A flush is scheduled (something waits to be handed to painting).
    bool FlushPending() const { return flushScheduled_; }
    bool DiaeresisPending() const { return diaeresisPending_; }

    // Program-wide: Ctrl+Alt+keypad-* was pressed and the next key's definition is wanted.
    static bool KeyCaptureArmed;

    // ---- Events ----
    TKeyBufferEvent OnKeyBuffer;
    TKeyPressEvent OnKeyPress;

    // The filter this view installs while it has the focus.
    bool KeyDownFilter(const TKeyMsg& Msg);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

    // Pixel rectangle given as Windows-style edges (right and bottom exclusive), client space.
    void InvalidateClient(int Left, int Top, int Right, int Bottom);
    // Sets the marking rectangle and repaints (Top -1: none).
    void SetMarkRect(const TPixelRect& Value);
    // Draws extra marks over the cells (the telnet terminal's drag rectangle). Client space.
    virtual void PaintOverlay(QPainter& Painter);
    // Called when the view loses the focus, after the caret and the key filter are gone.
    virtual void FocusLost() {}

private:
    // Smallest box holding what was added (cells, inclusive; or pixels, exclusive right/bottom).
    struct Box {
        int Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN;
        bool Empty() const { return Right < Left; }
        void Add(int l, int t, int r, int b)
        {
            if (l < Left) Left = l;
            if (t < Top) Top = t;
            if (r > Right) Right = r;
            if (b > Bottom) Bottom = b;
        }
    };

    void RefreshScreen(const terminal::TScreen& s)
    {
        refreshPending_ = true;
        if (caretCreated_ && !caretShown_ && !s.CursorHidden()) ShowCaret();
        caretRow_ = s.CursorRow();
        caretCol_ = s.CursorCol();
        ScheduleFlush();
    }
    void ScheduleFlush()
    {
        if (!flushScheduled_) StartFlushTimer();
    }
    void StartFlushTimer();
    void Flush();
    QRect CaretRect() const;
    void CreateCaret();
    void DestroyCaret();
    void ShowCaret()
    {
        if (!caretCreated_ || caretShown_ || !caretEnabled_) return;
        caretShown_ = true;
        ScheduleFlush();
    }
    void HideCaret()
    {
        if (!caretShown_) return;
        caretShown_ = false;
        ScheduleFlush();
    }
    void BlinkCaret();
    void CursorShowHide();
    void ScrollBarAction(int action);
    void LayoutScrollBar();
    void LogBytes(const char* Data, std::int64_t Len);
    void LogByte(char Ch);
    void CaptureKeyDefinition(const terminal::TKeyDown& Key);
    void PaintSegment(QPainter& p, int y, const terminal::TLine& line, int startCol, int endCol);
    void UpdateGlyphs();
    int BorderWidth() const { return borderStyle_ == TBorderStyle::bsSingle ? 1 : 0; }

    std::unique_ptr<terminal::TScreen> screen_;
    std::unique_ptr<QFile> logFile_;
    bool caretEnabled_ = true;
    bool caretShown_ = false;
    bool caretCreated_ = false;
    int caretHeight_ = 0;
    int caretRow_ = 0;  // the caret's cell; its pixels follow from the geometry
    int caretCol_ = 0;
    bool blinkOn_ = true;
    QRect caretOnScreen_;  // the caret as last handed to painting (empty: not drawn)
    QTimer blinkTimer_;
    int lineHeight_ = 12;
    int lineHeightSetting_ = 12;
    int charWidth_ = 8;
    int leading_ = 0;
    int glyphAscent_ = 10;  // ink above the baseline, whole pixels
    int glyphDescent_ = 2;  // ink below it
    int fontHeight_ = 1;    // glyphAscent_ + glyphDescent_
    TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
    bool autoRepaint_ = true;
    QFont font_;
    QScrollBar* scrollBar_ = nullptr;
    int viewOffset_ = 0;
    bool localEcho_ = false;
    int fKeys_ = 1;
    bool monoChrome_ = false;
    bool log_ = false;
    TKeyFilter previousFilter_;
    bool filterInstalled_ = false;
    bool circumflexPending_ = false;
    bool diaeresisPending_ = false;
    TPixelRect markRect_;

    // What to paint at the next flush: everything, or the changed cells, the cursor cells and
    // other pixels (client coordinates).
    bool pendingAll_ = false;
    bool refreshPending_ = false;  // the screen's dirty record and the cursor cell
    Box pendingOther_;
    bool flushScheduled_ = false;
    QTimer flushTimer_;
    QElapsedTimer sinceFlush_;

    // Character and glyph of each cell byte (glyph 0: not in the font).
    QRawFont rawFont_;
    std::array<QChar, 256> glyphs_{};
    std::array<quint32, 256> glyphIndex_{};
    QList<quint32> runGlyphs_;
    QList<QPointF> runPositions_;
};

class TEmulVT : public TCustomEmulVT {
    Q_OBJECT
public:
    explicit TEmulVT(QWidget* parent = nullptr) : TCustomEmulVT(parent) {}
};

// The font a terminal uses for the requested one: the same font with fixed pitch when its family
// is installed and fixed pitch, else the system's fixed-pitch font (FixedPitchFamily) at the
// requested size and style.
QFont FixedPitchFont(const QFont& Requested);
// The system's fixed-pitch font family: the platform's fixed font when it is fixed pitch, else the
// first installed fixed-pitch family (DejaVu Sans Mono, Liberation Mono, Noto Mono, any other).
QString FixedPitchFamily();
