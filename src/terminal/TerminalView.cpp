#include "terminal/TerminalView.h"

#include "platform/FileErrors.h"
#include "terminal/Cp437.h"
#include "terminal/FunctionKeys.h"
#include "terminal/XlatTables.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QtMath>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

using namespace terminal;

// ---- The application-wide key filter ---------------------------------------------------------

namespace {

TKeyFilter& FilterSlot()
{
    static TKeyFilter filter;
    return filter;
}

// Hands every key press of the program (and the shortcut query before it) to the filter slot.
class KeyFilterDispatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
        const TKeyFilter& filter = FilterSlot();
        if (!filter) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const bool query = type == QEvent::ShortcutOverride;
        if (!filter(TKeyMsg{watched, key, query})) return false;
        // A taken key is the view's: no shortcut runs for it and nobody else sees it.
        event->accept();
        return true;
    }
};

void EnsureDispatcher()
{
    static QPointer<KeyFilterDispatcher> dispatcher;
    if (dispatcher || !QCoreApplication::instance()) return;
    dispatcher = new KeyFilterDispatcher(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(dispatcher);
}

}  // namespace

TKeyFilter SetApplicationKeyFilter(TKeyFilter Filter)
{
    EnsureDispatcher();
    TKeyFilter previous = std::move(FilterSlot());
    FilterSlot() = std::move(Filter);
    return previous;
}

const TKeyFilter& ApplicationKeyFilter()
{
    return FilterSlot();
}

// ---- Fonts -----------------------------------------------------------------------------------

QString FixedPitchFamily()
{
    static const QString family = [] {
        QStringList candidates{
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family(),
            QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
            QStringLiteral("Noto Mono")};
        candidates += QFontDatabase::families();
        for (const QString& name : candidates)
            if (QFontDatabase::hasFamily(name) && QFontDatabase::isFixedPitch(name)) return name;
        return candidates.front();
    }();
    return family;
}

QFont FixedPitchFont(const QFont& Requested)
{
    QFont font(Requested);
    const QString family = Requested.family();
    if (!QFontDatabase::hasFamily(family) || !QFontDatabase::isFixedPitch(family))
        font.setFamily(FixedPitchFamily());
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    font.setKerning(false);
    return font;
}

// ---- The view --------------------------------------------------------------------------------

bool TCustomEmulVT::KeyCaptureArmed = false;

const std::array<QRgb, 16> TCustomEmulVT::Palette = {
    qRgb(0, 0, 0),     qRgb(168, 0, 0),    qRgb(0, 168, 0),    qRgb(168, 168, 0),
    qRgb(0, 0, 168),   qRgb(168, 0, 168),  qRgb(0, 112, 216),  qRgb(200, 200, 200),
    qRgb(84, 84, 84),  qRgb(84, 84, 212),  qRgb(84, 255, 84),  qRgb(255, 255, 84),
    qRgb(84, 84, 255), qRgb(255, 84, 255), qRgb(84, 255, 255), qRgb(255, 255, 255),
};

TCustomEmulVT::TCustomEmulVT(QWidget* parent) : QWidget(parent)
{
    // The paint routine covers every pixel it is asked for: no background erase.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Not a tab stop; a left click or the owner gives it the focus.
    setFocusPolicy(Qt::NoFocus);

    screen_ = std::make_unique<TScreen>();
    screen_->SetReceiveMap(LatinToOemTable);
    screen_->SetSendMap(LatinToOemTable);
    screen_->OnCursorShowHide = [this](TScreen*) { CursorShowHide(); };

    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setObjectName(QStringLiteral("ScrollBar"));
    scrollBar_->setFocusPolicy(Qt::NoFocus);
    scrollBar_->setCursor(Qt::ArrowCursor);
    connect(scrollBar_, &QScrollBar::actionTriggered, this, &TCustomEmulVT::ScrollBarAction);

    flushTimer_.setSingleShot(true);
    flushTimer_.setTimerType(Qt::PreciseTimer);
    connect(&flushTimer_, &QTimer::timeout, this, &TCustomEmulVT::Flush);
    connect(&blinkTimer_, &QTimer::timeout, this, &TCustomEmulVT::BlinkCaret);

    SetFont(QFont(QStringLiteral("Terminal"), 12));
    resize(250, 100);
    LayoutScrollBar();

    screen_->MoveCursor(0, 0);
    screen_->FeedText("EmulVT");
    screen_->MoveCursor(0, 1);
}

TCustomEmulVT::~TCustomEmulVT()
{
    if (filterInstalled_) {
        SetApplicationKeyFilter(std::move(previousFilter_));
        filterInstalled_ = false;
    }
    if (log_) {
        try {
            SetLog(false);
        } catch (const std::exception&) {
            // The file is closed either way; a destructor reports nothing.
        }
    }
}

// ---- Displaying ------------------------------------------------------------------------------

void TCustomEmulVT::DisplayText(std::string_view S)
{
    DisplayBuffer(S.data(), static_cast<std::int32_t>(S.size()));
}

void TCustomEmulVT::DisplayBuffer(const char* Buffer, std::int32_t Len)
{
    if (caretShown_) HideCaret();
    for (std::int32_t i = 0; i < Len; ++i) {
        if (log_) LogBytes(Buffer + i, 1);
        screen_->FeedChar(static_cast<std::uint8_t>(Buffer[i]));
    }
    if (autoRepaint_) RefreshScreen();
}

void TCustomEmulVT::ClearTerminal()
{
    screen_->BlankScreen();
}

void TCustomEmulVT::InvalidateAll()
{
    pendingAll_ = true;
    ScheduleFlush();
}

void TCustomEmulVT::InvalidateClient(int Left, int Top, int Right, int Bottom)
{
    if (pendingAll_ || Right <= Left || Bottom <= Top) return;
    pendingOther_.Add(Left, Top, Right, Bottom);
    ScheduleFlush();
}

void TCustomEmulVT::StartFlushTimer()
{
    flushScheduled_ = true;
    int delay = 0;
    if (sinceFlush_.isValid()) {
        const qint64 elapsed = sinceFlush_.elapsed();
        if (elapsed < kFrameMs) delay = static_cast<int>(kFrameMs - elapsed);
    }
    flushTimer_.start(delay);
}

void TCustomEmulVT::Flush()
{
    flushScheduled_ = false;
    sinceFlush_.start();
    const int b = BorderWidth();
    const auto pixels = [&](int l, int t, int r, int bt) {
        if (r > l && bt > t) update(l + b, t + b, r - l, bt - t);
    };
    const QRect caret = caretCreated_ && caretShown_ && blinkOn_ ? CaretRect() : QRect();
    if (refreshPending_) {
        refreshPending_ = false;
        TScreen& s = *screen_;
        if (s.RepaintAll()) pendingAll_ = true;
        if (!pendingAll_) {
            const TDirtyRect& d = s.DirtyRect();
            if (!d.IsEmpty())
                pixels(kLeftMargin + d.Left * charWidth_,
                       kTopMargin + (d.Top - viewOffset_) * lineHeight_ + leading_,
                       kLeftMargin + (d.Right + 1) * charWidth_,
                       kTopMargin + (d.Bottom + 1 - viewOffset_) * lineHeight_ + leading_);
            const int x = kLeftMargin + s.CursorCol() * charWidth_;
            const int y = kTopMargin + (s.CursorRow() - viewOffset_) * lineHeight_;
            pixels(x, y, x + charWidth_, y + lineHeight_);
        }
        s.ResetDirty();
    }
    if (pendingAll_) {
        update();
    } else {
        const Box& o = pendingOther_;
        if (!o.Empty()) pixels(o.Left, o.Top, o.Right, o.Bottom);
        if (caret != caretOnScreen_) {
            if (!caretOnScreen_.isEmpty()) update(caretOnScreen_.translated(b, b));
            if (!caret.isEmpty()) update(caret.translated(b, b));
        }
    }
    pendingOther_ = Box{};
    pendingAll_ = false;
    caretOnScreen_ = caret;
}

// ---- Caret -----------------------------------------------------------------------------------

QRect TCustomEmulVT::CaretRect() const
{
    // Drawn over the cell as it is painted (its background starts the leading lower), so the
    // caret stands beside the glyphs, not half a line above them.
    const QPoint p = CaretPos();
    return QRect(p.x(), p.y() + leading_, 2, caretHeight_);
}

void TCustomEmulVT::PlaceCaret()
{
    caretRow_ = screen_->CursorRow();
    caretCol_ = screen_->CursorCol();
    if (caretCreated_) ScheduleFlush();
}

void TCustomEmulVT::CreateCaret()
{
    caretCreated_ = true;
    caretShown_ = false;
    caretHeight_ = lineHeight_;
    blinkOn_ = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (flash > 0) blinkTimer_.start(flash / 2);
    ScheduleFlush();
}

void TCustomEmulVT::DestroyCaret()
{
    caretCreated_ = false;
    caretShown_ = false;
    blinkTimer_.stop();
    ScheduleFlush();
}

void TCustomEmulVT::BlinkCaret()
{
    blinkOn_ = !blinkOn_;
    ScheduleFlush();
}

void TCustomEmulVT::CursorShowHide()
{
    if (screen_->CursorHidden())
        HideCaret();
    else if (screen_->HasFocus() && !caretShown_)
        ShowCaret();
}

// ---- Focus and mouse -------------------------------------------------------------------------

void TCustomEmulVT::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    screen_->SetHasFocus(true);
    CreateCaret();
    PlaceCaret();
    if (!screen_->CursorHidden()) ShowCaret();
    if (!filterInstalled_) {
        QPointer<TCustomEmulVT> self(this);
        previousFilter_ = SetApplicationKeyFilter(
            [self](const TKeyMsg& m) { return self ? self->KeyDownFilter(m) : false; });
        filterInstalled_ = true;
    }
}

void TCustomEmulVT::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    screen_->SetHasFocus(false);
    HideCaret();
    DestroyCaret();
    if (filterInstalled_) {
        SetApplicationKeyFilter(std::move(previousFilter_));
        previousFilter_ = nullptr;
        filterInstalled_ = false;
    }
    FocusLost();
}

void TCustomEmulVT::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) setFocus(Qt::MouseFocusReason);
}

// ---- Properties ------------------------------------------------------------------------------

void TCustomEmulVT::SetXlat(bool Value)
{
    screen_->SetTranslateOn(!Value);
    screen_->SetTranslateDefault(!Value);
}

void TCustomEmulVT::SetRows(int Value)
{
    Value = std::clamp(Value, 1, kMaxRows);
    if (Value == screen_->Rows()) return;
    screen_->SetSize(Value, screen_->Cols());
    InvalidateAll();
    PlaceCaret();
}

void TCustomEmulVT::SetCols(int Value)
{
    Value = std::clamp(Value, 1, kMaxCols);
    if (Value == screen_->Cols()) return;
    screen_->SetSize(screen_->Rows(), Value);
    InvalidateAll();
    PlaceCaret();
}

void TCustomEmulVT::SetLineHeight(int Value)
{
    lineHeightSetting_ = std::clamp(Value, kMinLineHeight, kMaxLineHeight);
    // A cell never cuts its glyphs: it is at least as high as the font's glyphs.
    lineHeight_ = std::max(lineHeightSetting_, fontHeight_);
}

void TCustomEmulVT::SetFont(const QFont& Value)
{
    font_ = FixedPitchFont(Value);
    MeasureFont();
    PlaceCaret();
    InvalidateAll();
}

void TCustomEmulVT::SetMonoChrome(bool Value)
{
    if (Value == monoChrome_) return;
    monoChrome_ = Value;
    InvalidateAll();
}

void TCustomEmulVT::SetBorderStyle(TBorderStyle Value)
{
    if (Value == borderStyle_) return;
    borderStyle_ = Value;
    LayoutScrollBar();
    InvalidateAll();
}

void TCustomEmulVT::SetViewOffset(int Value)
{
    viewOffset_ = std::clamp(Value, 0, kViewLines - 1);
    InvalidateAll();
    PlaceCaret();
}

QRect TCustomEmulVT::ClientRect() const
{
    const int b = BorderWidth();
    return rect().adjusted(b, b, -b, -b);
}

void TCustomEmulVT::SetMarkRect(const TPixelRect& Value)
{
    markRect_ = Value;
    InvalidateAll();
}

void TCustomEmulVT::MeasureFont()
{
    const QFontMetrics fm(font_);
    rawFont_ = QRawFont::fromFont(font_);
    qreal widest = 0;
    // The ink of the glyphs the grid can show, above and below the baseline.
    qreal inkTop = 0, inkBottom = 0;
    for (int i = 0; i < 256; ++i) {
        const QChar c(Cp437ToUnicode[i]);
        glyphs_[i] = c;
        // Glyphs the font lacks are drawn one by one from a fallback font; they do not make the
        // cells wider.
        const QList<quint32> index = rawFont_.glyphIndexesForString(QString(c));
        glyphIndex_[i] = index.isEmpty() ? 0 : index.front();
        if (glyphIndex_[i] != 0) {
            const QList<QPointF> advance = rawFont_.advancesForGlyphIndexes(index);
            if (!advance.isEmpty()) widest = std::max(widest, advance.front().x());
            const QRectF ink = rawFont_.boundingRect(glyphIndex_[i]);
            if (!ink.isEmpty()) {
                inkTop = std::min(inkTop, ink.top());
                inkBottom = std::max(inkBottom, ink.bottom());
            }
        }
    }
    charWidth_ =
        widest > 0 ? std::max(1, qCeil(widest - 1.0 / 64)) : std::max(1, fm.averageCharWidth());
    glyphAscent_ = std::max(fm.ascent(), qCeil(-inkTop));
    glyphDescent_ = std::max(fm.descent(), qCeil(inkBottom));
    fontHeight_ = glyphAscent_ + glyphDescent_;
    SetLineHeight(fontHeight_);
    leading_ = std::max(0, fm.height() - QFontInfo(font_).pixelSize());
}

int TCustomEmulVT::PixelToRow(int Y) const
{
    return std::max(0, (Y - kTopMargin) / lineHeight_);
}

int TCustomEmulVT::PixelToCol(int X) const
{
    return std::max(0, (X - kLeftMargin) / charWidth_);
}

// ---- Log file --------------------------------------------------------------------------------

void TCustomEmulVT::SetLog(bool Value)
{
    if (Value == log_) return;
    if (Value) {
        auto file = std::make_unique<QFile>(QDir::current().filePath(QStringLiteral("EMULVT.LOG")));
        errno = 0;
        if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) {
            errno = 0;
            if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                const int err = errno;
                throw std::runtime_error(platform::FileErrorText(err ? err : EIO).toStdString());
            }
        }
        logFile_ = std::move(file);
        log_ = true;
        LogBytes("<Open>", 6);
        return;
    }
    log_ = false;
    std::unique_ptr<QFile> file = std::move(logFile_);
    errno = 0;
    const bool written = file->write("<Close>", 7) == 7 && file->flush();
    const int err = errno;
    file->close();
    if (!written) throw std::runtime_error(platform::FileErrorText(err ? err : EIO).toStdString());
}

void TCustomEmulVT::LogBytes(const char* Data, std::int64_t Len)
{
    errno = 0;
    if (logFile_->write(Data, Len) != Len || !logFile_->flush()) {
        const int err = errno;
        throw std::runtime_error(platform::FileErrorText(err ? err : EIO).toStdString());
    }
}

void TCustomEmulVT::LogByte(char Ch)
{
    LogBytes(&Ch, 1);
}

// ---- Scroll bar ------------------------------------------------------------------------------

void TCustomEmulVT::ScrollBarAction(int action)
{
    if (action == QAbstractSlider::SliderSingleStepSub)
        SetViewOffset(viewOffset_ - 1);
    else if (action == QAbstractSlider::SliderSingleStepAdd)
        SetViewOffset(viewOffset_ + 1);
    else
        return;
    setFocus(Qt::OtherFocusReason);
}

void TCustomEmulVT::LayoutScrollBar()
{
    const QRect c = ClientRect();
    scrollBar_->setGeometry(c.right() + 1 - kScrollBarWidth, c.top(), kScrollBarWidth, c.height());
}

void TCustomEmulVT::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    LayoutScrollBar();
}

// ---- Keys ------------------------------------------------------------------------------------

const FunctionKeyEntry* TCustomEmulVT::LookupFunctionKey(std::uint8_t ScanCode, std::uint8_t Shift,
                                                         bool Extended) const
{
    return terminal::LookupFunctionKey(fKeys_, ScanCode, Shift, Extended);
}

bool TCustomEmulVT::HandleFunctionKey(std::uint8_t ScanCode, std::uint8_t Shift, bool Extended)
{
    const FunctionKeyEntry* e = LookupFunctionKey(ScanCode, Shift, Extended);
    if (!e) return false;
    SendKeySequence(e->Sequence.data(), static_cast<std::int32_t>(e->Sequence.size()));
    return true;
}

void TCustomEmulVT::SendKeySequence(const char* Buffer, std::int32_t Len)
{
    if (OnKeyBuffer) {
        OnKeyBuffer(this, Buffer, Len);
        return;
    }
    for (std::int32_t i = 0; i < Len; ++i) {
        char k = Buffer[i];
        KeyPress(k);
    }
}

void TCustomEmulVT::KeyPress(char& Key)
{
    if (!screen_->TranslateOn())
        Key = static_cast<char>(screen_->SendMap()[static_cast<std::uint8_t>(Key)]);
    if (OnKeyPress) OnKeyPress(this, Key);
    if (LocalEcho()) {
        DisplayChar(Key);
        if (!autoRepaint_) RefreshScreen();
    }
}

namespace {

// Whether Caps Lock is on, told by the case of the letter the key typed: an upper-case letter
// without Shift, or a lower-case one with Shift.
bool CapsLockOn(const QKeyEvent* e, bool shift, bool ctrl)
{
    const QString text = e->text();
    if (ctrl || text.size() != 1 || !text.at(0).isLetter()) return false;
    return text.at(0).isUpper() != shift;
}

}  // namespace

bool TCustomEmulVT::KeyDownFilter(const TKeyMsg& Msg)
{
    const auto passOn = [&] { return previousFilter_ ? previousFilter_(Msg) : false; };
    if (Msg.Receiver != this || !Msg.Event) return passOn();
    const QKeyEvent* e = Msg.Event;
    const Qt::KeyboardModifiers mods = e->modifiers();
    // Alt without Ctrl makes a system key (menus, mnemonics), not a key-down for the view.
    if (mods.testFlag(Qt::AltModifier) && !mods.testFlag(Qt::ControlModifier)) return passOn();

    const TKeyDown k = MapQtKey(e->key(), mods);
    const std::uint8_t key = static_cast<std::uint8_t>(k.VirtualKey & 0xFF);
    const std::uint8_t shift = k.ShiftState;
    const bool query = Msg.Query;
    const bool modifierKey =
        k.VirtualKey == kVkShift || k.VirtualKey == kVkControl || k.VirtualKey == kVkMenu;

    if (!modifierKey) {
        // Ctrl+Alt+keypad-* arms the key-definition capture; the next key is described.
        if (k.ScanCode == 0x37 && shift == (kShiftCtrl | kShiftAlt) && !k.Extended) {
            if (!query) KeyCaptureArmed = true;
            return true;
        }
        if (KeyCaptureArmed) {
            if (!query) {
                KeyCaptureArmed = false;
                CaptureKeyDefinition(k);
            }
            return true;
        }
        if (LookupFunctionKey(k.ScanCode, shift, k.Extended)) {
            if (!query) HandleFunctionKey(k.ScanCode, shift, k.Extended);
            return true;
        }
    }

    bool handled = false;
    std::uint8_t byte = 0;
    if (k.VirtualKey == kVkBack || k.VirtualKey == kVkTab || k.VirtualKey == kVkReturn ||
        k.VirtualKey == kVkEscape) {
        handled = true;
        byte = key;
    } else if (k.VirtualKey >= kVkPrior && k.VirtualKey <= kVkDown) {
        // Keypad cursor keys with Num Lock off match the extended entries.
        if (LookupFunctionKey(k.ScanCode, shift, true)) {
            if (!query) HandleFunctionKey(k.ScanCode, shift, true);
            return true;
        }
    } else if (k.VirtualKey >= 'A' && k.VirtualKey <= 'Z') {
        handled = true;
        const bool shiftHeld = shift & kShiftShift;
        const bool ctrlHeld = shift & kShiftCtrl;
        std::uint8_t ch = key;
        if (ctrlHeld)
            ch &= 0x1F;
        else if (!(CapsLockOn(e, shiftHeld, ctrlHeld) || shiftHeld))
            ch |= 0x20;
        if (!query) {
            if (circumflexPending_) ch = ApplyDeadKey(ch, kCircumflexVowels);
            circumflexPending_ = false;
            if (diaeresisPending_) ch = ApplyDeadKey(ch, kDiaeresisVowels);
            diaeresisPending_ = false;
        }
        byte = ch;
    } else if (k.VirtualKey == kVkDeadAccent) {
        if (shift & kShiftAlt) return passOn();
        if (!query) {
            if (shift & kShiftShift)
                diaeresisPending_ = true;
            else
                circumflexPending_ = true;
        }
        return true;
    }
    if (!handled) return passOn();
    if (!query && byte != 0) {
        char c = static_cast<char>(byte);
        KeyPress(c);
    }
    return true;
}

void TCustomEmulVT::CaptureKeyDefinition(const TKeyDown& Key)
{
    const QString line =
        QString::fromLatin1(KeyDefinitionLine(fKeys_, Key.ScanCode, Key.ShiftState, Key.Extended));
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(line);
    QMessageBox box(QMessageBox::NoIcon,
                    QStringLiteral("Key definition from keydfs%1.cfg").arg(fKeys_), line,
                    QMessageBox::Ok, this);
    box.exec();
}

void TCustomEmulVT::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods.testFlag(Qt::AltModifier) && !mods.testFlag(Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    if (text.isEmpty()) {
        // Control characters outside the letters, where the platform gives no text for them.
        int code = -1;
        if (mods.testFlag(Qt::ControlModifier)) {
            switch (event->key()) {
            case Qt::Key_At:
                code = 0;
                break;
            case Qt::Key_BracketLeft:
                code = 27;
                break;
            case Qt::Key_Backslash:
                code = 28;
                break;
            case Qt::Key_BracketRight:
                code = 29;
                break;
            case Qt::Key_AsciiCircum:
                code = 30;
                break;
            case Qt::Key_Underscore:
                code = 31;
                break;
            default:
                break;
            }
        }
        if (code < 0) {
            event->ignore();
            return;
        }
        char k = static_cast<char>(code);
        KeyPress(k);
        return;
    }
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        char k = u <= 0xFF ? static_cast<char>(u) : '?';
        KeyPress(k);
    }
}

// ---- Painting --------------------------------------------------------------------------------

void TCustomEmulVT::PaintOverlay(QPainter&)
{
}

void TCustomEmulVT::paintEvent(QPaintEvent* event)
{
    const int b = BorderWidth();
    const QRect client = ClientRect();
    QPainter p(this);
    if (b > 0) {
        p.setPen(QColor(64, 64, 64));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    p.setClipRect(client);
    p.translate(b, b);

    // Update rectangle U and client rectangle C, with exclusive right and bottom edges.
    const QRect u = event->rect().translated(-b, -b);
    const int uLeft = u.left(), uTop = u.top(), uRight = u.right() + 1, uBottom = u.bottom() + 1;
    const int cRight = client.width(), cBottom = client.height();

    const std::uint8_t attr = screen_->CurrentAttr();
    // The margin colour: palette entry CurrentAttr div 15, kept within the 16 entries.
    const QColor margin =
        monoChrome_ ? QColor(Qt::white) : QColor(Palette[std::min(attr / 15, 15)]);
    const auto fill = [&](int l, int t, int r, int bt) {
        if (r > l && bt > t) p.fillRect(l, t, r - l, bt - t, margin);
    };

    int firstRow = (uTop - kTopMargin) / lineHeight_ - 1;
    if (firstRow < 0) firstRow = 0;
    int y = kTopMargin + firstRow * lineHeight_;
    if (uTop <= kTopMargin) fill(uLeft, uTop, uRight + 1, leading_ + kTopMargin + 1);
    if (firstRow == 0 && leading_ > 0) fill(uLeft, uTop, uRight + 1, y + leading_ + 1);

    p.setFont(font_);
    int line = firstRow + viewOffset_;
    const int cols = screen_->Cols();
    bool reachedEnd = true;
    while (line < kViewLines) {
        if (cBottom - kTopMargin < y + lineHeight_) {
            // The line would not fit whole: the rest is margin.
            fill(0, y, cRight, cBottom);
            reachedEnd = false;
            break;
        }
        const TLine& l = screen_->Line(line);
        int start = 0;
        while (start < cols) {
            int end = start + 1;
            while (end < cols && l.Attrs[end] == l.Attrs[start])
                ++end;
            PaintSegment(p, y, l, start, end);
            start = end;
        }
        ++line;
        y += lineHeight_;
        if (y > uBottom) {
            reachedEnd = false;
            break;
        }
    }
    // Below the last line of the stock, in a window taller than 50 lines.
    if (reachedEnd) fill(0, y + leading_, cRight, cBottom);

    const int gridRight = kLeftMargin + cols * charWidth_;
    if (gridRight < cRight - 2) fill(gridRight, kTopMargin, cRight, cBottom);

    if (markRect_.Top != -1) {
        p.setBrush(Qt::NoBrush);
        const TPixelRect& m = markRect_;
        // Outlines of the edge rectangles (Left, Top)-(Right+1, Bottom-1) and one pixel wider.
        p.setPen(QPen(Qt::black, 0));
        p.drawRect(m.Left, m.Top, m.Right - m.Left, m.Bottom - 2 - m.Top);
        p.setPen(QPen(Qt::white, 0));
        p.drawRect(m.Left - 1, m.Top - 1, m.Right + 2 - m.Left, m.Bottom - m.Top);
    }
    PaintOverlay(p);

    if (!caretOnScreen_.isEmpty()) {
        p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        p.fillRect(caretOnScreen_, Qt::white);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void TCustomEmulVT::PaintSegment(QPainter& p, int y, const TLine& line, int startCol, int endCol)
{
    const std::uint8_t a = line.Attrs[startCol];
    QColor background, text;
    if (monoChrome_) {
        background = a >= 15 ? QColor(127, 127, 127) : QColor(Qt::white);
        text = (a & 0x0F) != 0 ? QColor(Qt::black) : QColor(Qt::white);
    } else {
        background = QColor(Palette[(a >> 4) & 0x0F]);
        text = QColor(Palette[a & 0x0F]);
    }
    const int x0 = kLeftMargin + startCol * charWidth_;
    const int x1 = x0 + (endCol - startCol) * charWidth_;
    const int left = startCol == 0 ? x0 - kLeftMargin : x0;
    const int right = endCol >= screen_->Cols() ? x1 + kLeftMargin : x1;
    const QRect box(left, y + leading_, right - left, lineHeight_);
    p.fillRect(box, background);

    // The glyphs stand at their cells' left edges, whatever the font's own advances, and wholly
    // inside the cell's height (its spare height shared above and below); glyphs the font lacks
    // are drawn one by one through the platform's fallback.
    runGlyphs_.clear();
    runPositions_.clear();
    const int baseline = y + leading_ + (lineHeight_ - fontHeight_) / 2 + glyphAscent_;
    bool missing = false;
    for (int c = startCol; c < endCol; ++c) {
        const std::uint8_t ch = line.Chars[c];
        if (ch == 0x20 || ch == 0 || ch == 0xFF) continue;
        if (glyphIndex_[ch] == 0) {
            missing = true;
            continue;
        }
        runGlyphs_.append(glyphIndex_[ch]);
        runPositions_.append(QPointF(x0 + (c - startCol) * charWidth_, baseline));
    }
    if (runGlyphs_.isEmpty() && !missing) return;
    p.save();
    p.setClipRect(box, Qt::IntersectClip);
    p.setPen(text);
    if (!runGlyphs_.isEmpty()) {
        QGlyphRun run;
        run.setRawFont(rawFont_);
        run.setGlyphIndexes(runGlyphs_);
        run.setPositions(runPositions_);
        run.setUnderline(font_.underline());
        run.setStrikeOut(font_.strikeOut());
        p.drawGlyphRun(QPointF(0, 0), run);
    }
    if (missing) {
        p.setFont(font_);
        for (int c = startCol; c < endCol; ++c) {
            const std::uint8_t ch = line.Chars[c];
            if (glyphIndex_[ch] != 0 || ch == 0x20 || ch == 0 || ch == 0xFF) continue;
            p.drawText(QPoint(x0 + (c - startCol) * charWidth_, baseline), QString(glyphs_[ch]));
        }
    }
    p.restore();
}
