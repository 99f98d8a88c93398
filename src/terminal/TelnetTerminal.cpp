#include "terminal/TelnetTerminal.h"

#include "platform/Beep.h"
#include "platform/IniFile.h"
#include "terminal/TerminalOptionsDialog.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <exception>

namespace {

constexpr int kDefaultFontSize = 9;
constexpr int kMaxFontSize = 200;

int PointSizeOf(const QFont& font)
{
    if (font.pointSize() > 0) return font.pointSize();
    // A font given in pixels: its size in points on the screen.
    double dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    return std::max(1, static_cast<int>(font.pixelSize() * 72.0 / dpi + 0.5));
}

QString Key(const char* name)
{
    return QLatin1String(name);
}

}  // namespace

const char* const TTnEmulVT::SettingKeys[14] = {
    "FontName", "FontSize", "FontPitch", "FontStyle",  "LineHeight", "Rows", "Cols",
    "AutoCR",   "AutoLF",   "LocalEcho", "MonoChrome", "UpperLock",  "Xlat", "FKeys"};

// ---- Settings ---------------------------------------------------------------------------------

void FontToSettings(const QFont& Font, platform::IniFile& File, const QString& Section)
{
    File.WriteString(Section, Key("FontName"), Font.family());
    File.WriteInteger(Section, Key("FontSize"), PointSizeOf(Font));
    int pitch = 0;
    if (Font.fixedPitch())
        pitch = 2;
    else if (Font.resolveMask() & QFont::FixedPitchResolved)
        pitch = 1;
    File.WriteInteger(Section, Key("FontPitch"), pitch);
    int style = 0;
    if (Font.bold()) style |= 1;
    if (Font.italic()) style |= 2;
    if (Font.underline()) style |= 4;
    if (Font.strikeOut()) style |= 8;
    File.WriteInteger(Section, Key("FontStyle"), style);
}

void SettingsToFont(QFont& Font, const platform::IniFile& File, const QString& Section)
{
    const QString name = File.ReadString(Section, Key("FontName"), QStringLiteral("*"));
    if (name == QLatin1String("*") || name.isEmpty()) return;
    Font.setFamily(name);
    int size = File.ReadInteger(Section, Key("FontSize"), kDefaultFontSize);
    if (size < 1) size = kDefaultFontSize;
    Font.setPointSize(std::min(size, kMaxFontSize));
    const int pitch = File.ReadInteger(Section, Key("FontPitch"), 12);
    if (pitch == 1) Font.setFixedPitch(false);
    if (pitch == 2) Font.setFixedPitch(true);
    const int style = File.ReadInteger(Section, Key("FontStyle"), 0);
    Font.setBold(style & 1);
    Font.setItalic(style & 2);
    Font.setUnderline(style & 4);
    Font.setStrikeOut(style & 8);
}

// ---- The component ----------------------------------------------------------------------------

TTnEmulVT::TTnEmulVT(QWidget* parent) : TEmulVT(parent)
{
    session_ = new TTnCnx(this);
    session_->setObjectName(QStringLiteral("Session"));
    session_->OnSessionConnected = [this](TTnCnx* s, std::uint16_t e) { SessionConnected(s, e); };
    session_->OnSessionClosed = [this](TTnCnx* s, std::uint16_t e) { SessionClosed(s, e); };
    session_->OnDataAvailable = [this](TTnCnx* s, char* b, std::int32_t n) {
        SessionDataAvailable(s, b, n);
    };
    session_->OnSendLoc = [this](QObject*) {
        if (OnSendLoc) OnSendLoc(this);
    };
    session_->OnTermType = [this](QObject*) {
        if (OnTermType) OnTermType(this);
    };
    session_->OnLocalEcho = [this](QObject*) {
        if (OnLocalEcho) OnLocalEcho(this);
    };
    setMouseTracking(false);
}

TTnEmulVT::~TTnEmulVT()
{
    ReleaseMouseHold();
    // The session goes first, so that none of its events reaches a half-destroyed view.
    session_->OnSessionConnected = nullptr;
    session_->OnSessionClosed = nullptr;
    session_->OnDataAvailable = nullptr;
    session_->OnSendLoc = nullptr;
    session_->OnTermType = nullptr;
    session_->OnLocalEcho = nullptr;
    delete session_;
    session_ = nullptr;
}

std::string TTnEmulVT::Location() const
{
    return session_->Location();
}

void TTnEmulVT::SetLocation(const std::string& Value)
{
    session_->SetLocation(Value);
}

// ---- Connection -------------------------------------------------------------------------------

void TTnEmulVT::Connect()
{
    if (hostName_.isEmpty()) return;
    ClearTerminal();
    session_->SetPort(port_.toStdString());
    session_->SetHost(hostName_.toStdString());
    session_->Connect();
    DisplayMessage(("Connecting to '" + hostName_ + "'\r\n").toLatin1().toStdString());
    setFocus(Qt::OtherFocusReason);
}

void TTnEmulVT::Disconnect()
{
    session_->Close();
}

std::int32_t TTnEmulVT::SendText(const std::string& S)
{
    return session_->SendStr(S);
}

void TTnEmulVT::RequestEchoMode(bool LocalOn)
{
    if (LocalOn)
        session_->DontOption(TN_ECHO);
    else
        session_->DoOption(TN_ECHO);
}

bool TTnEmulVT::SessionLocalEcho() const
{
    return session_->LocalEcho();
}

void TTnEmulVT::DisplayMessage(std::string_view S)
{
    DisplayText(S);
    InvalidateAll();
}

void TTnEmulVT::SessionConnected(TTnCnx*, std::uint16_t Error)
{
    if (Error == 0) {
        DisplayMessage("Connected\r\n");
    } else {
        DisplayMessage("Connection failed: " + SocketErrorText(Error) + "\r\n");
        platform::Beep(platform::BeepKind::Information);
    }
    error_ = Error;
    if (OnSessionConnected) OnSessionConnected(this);
}

void TTnEmulVT::SessionClosed(TTnCnx*, std::uint16_t Error)
{
    DisplayMessage("\r\n*** Server has closed ***\r\n");
    platform::Beep(platform::BeepKind::Information);
    error_ = Error;
    if (OnSessionClosed) OnSessionClosed(this);
}

void TTnEmulVT::TriggerDataAvailable(char* Buffer, std::int32_t Len)
{
    if (!OnDataAvailable) return;
    std::int32_t copy = Len;
    OnDataAvailable(this, Buffer, copy);
}

void TTnEmulVT::SessionDataAvailable(TTnCnx*, char* Buffer, std::int32_t Len)
{
    TriggerDataAvailable(Buffer, Len);
    for (std::int32_t i = 0; i < Len; ++i) {
        try {
            DisplayChar(Buffer[i]);
        } catch (const std::exception&) {
            // One byte that cannot be shown (the log file failing) does not stop the others.
        }
    }
    RefreshScreen();
}

// ---- Typing -----------------------------------------------------------------------------------

void TTnEmulVT::KeyPress(char& Key)
{
    if (OnKeyPress) OnKeyPress(this, Key);
    if (upperLock_ && Key >= 'a' && Key <= 'z') Key = static_cast<char>(Key & ~0x20);
    if (Key == 0) return;
    if (LocalEcho()) {
        try {
            DisplayChar(Key);
        } catch (const std::exception&) {
        }
    }
    try {
        session_->Send(&Key, 1);
    } catch (const std::exception&) {
        // Not connected: the key goes nowhere.
    }
}

void TTnEmulVT::SendKeySequence(const char* Buffer, std::int32_t Len)
{
    if (LocalEcho()) {
        try {
            DisplayBuffer(Buffer, Len);
        } catch (const std::exception&) {
        }
    }
    try {
        session_->Send(Buffer, Len);
    } catch (const std::exception&) {
    }
}

// ---- Settings ---------------------------------------------------------------------------------

void TTnEmulVT::ReadHostSettings()
{
    if (hostName_.isEmpty()) return;
    const platform::IniFile ini(iniFilename_);
    QFont font = QGuiApplication::font();
    SettingsToFont(font, ini, hostName_);
    SetFont(font);
    SetLineHeight(ini.ReadInteger(hostName_, Key("LineHeight"), 12));
    SetRows(ini.ReadInteger(hostName_, Key("Rows"), 25));
    SetCols(ini.ReadInteger(hostName_, Key("Cols"), 80));
    SetFKeys(ini.ReadInteger(hostName_, Key("FKeys"), 0));
    SetAutoCR(ini.ReadBool(hostName_, Key("AutoCR"), false));
    SetAutoLF(ini.ReadBool(hostName_, Key("AutoLF"), false));
    SetLocalEcho(ini.ReadBool(hostName_, Key("LocalEcho"), false));
    SetMonoChrome(ini.ReadBool(hostName_, Key("MonoChrome"), false));
    SetUpperLock(ini.ReadBool(hostName_, Key("UpperLock"), false));
    SetXlat(ini.ReadBool(hostName_, Key("Xlat"), false));
}

void TTnEmulVT::ShowOptionsDialog()
{
    if (hostName_.isEmpty()) return;
    TOptForm* dlg = TOptForm::Instance();
    dlg->SetIniFilename(iniFilename_);
    dlg->SetNamesHandler(OnNamesClick);
    ReadHostSettings();
    dlg->SetCurrentFont(Font());
    // The stored setting, not the height the cell grew to for the font.
    dlg->SetLineHeight(LineHeightSetting());
    dlg->SetAutoCR(AutoCR());
    dlg->SetAutoLF(AutoLF());
    dlg->SetLocalEcho(LocalEcho());
    dlg->SetMonoChrome(MonoChrome());
    dlg->SetUpperLock(UpperLock());
    dlg->SetXlat(Xlat());
    dlg->SetRows(Rows());
    dlg->SetCols(Cols());
    dlg->SetHostName(hostName_);
    dlg->SetFKeys(FKeys());
    if (dlg->exec() != QDialog::Accepted) return;

    SetFont(dlg->CurrentFont());
    SetLineHeight(dlg->LineHeight());
    SetAutoCR(dlg->AutoCR());
    SetAutoLF(dlg->AutoLF());
    SetLocalEcho(dlg->LocalEcho());
    SetMonoChrome(dlg->MonoChrome());
    SetUpperLock(dlg->UpperLock());
    SetXlat(dlg->Xlat());
    SetRows(dlg->Rows());
    SetCols(dlg->Cols());
    SetFKeys(dlg->FKeys());

    platform::IniFile ini(iniFilename_);
    FontToSettings(dlg->CurrentFont(), ini, hostName_);
    // What the terminal took (limited to its range), in the order of the host section.
    ini.WriteInteger(hostName_, Key("LineHeight"), LineHeightSetting());
    ini.WriteInteger(hostName_, Key("Rows"), Rows());
    ini.WriteInteger(hostName_, Key("Cols"), Cols());
    ini.WriteInteger(hostName_, Key("AutoCR"), AutoCR() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("AutoLF"), AutoLF() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("LocalEcho"), LocalEcho() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("MonoChrome"), MonoChrome() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("UpperLock"), UpperLock() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("Xlat"), Xlat() ? 1 : 0);
    ini.WriteInteger(hostName_, Key("FKeys"), FKeys());
    InvalidateAll();
}

// ---- Mouse marking ----------------------------------------------------------------------------

QPoint TTnEmulVT::ClientPos(const QPointF& widgetPos) const
{
    return widgetPos.toPoint() - ClientRect().topLeft();
}

void TTnEmulVT::EraseDrag()
{
    if (!dragDrawn_) return;
    const TPixelRect& d = dragRect_;
    InvalidateClient(std::min(d.Left, d.Right) - 1, std::min(d.Top, d.Bottom) - 1,
                     std::max(d.Left, d.Right) + 1, std::max(d.Top, d.Bottom) + 1);
    dragDrawn_ = false;
}

void TTnEmulVT::ReleaseMouseHold()
{
    if (captured_ && QWidget::mouseGrabber() == this) releaseMouse();
    captured_ = false;
    confined_ = false;
}

void TTnEmulVT::mousePressEvent(QMouseEvent* event)
{
    TEmulVT::mousePressEvent(event);
    buttonDown_ = true;
    EraseDrag();
    if (MarkRect().Top != -1) {
        dragRect_.Top = -1;
        SetMarkRect(dragRect_);
    }
}

void TTnEmulVT::mouseMoveEvent(QMouseEvent* event)
{
    TEmulVT::mouseMoveEvent(event);
    if (!buttonDown_) return;
    QPoint pos = ClientPos(event->position());
    if (!captured_) {
        grabMouse();
        captured_ = true;
        anchorTop_ = SnapPixelToTop(pos.y());
        anchorLeft_ = SnapPixelToLeft(pos.x());
        const QRect c = ClientRect();
        confineRect_ = QRect(mapToGlobal(c.topLeft()),
                             QSize(std::max(1, c.width() - kScrollBarWidth), c.height()));
        confined_ = true;
        return;
    }
    if (confined_) {
        // Keeps the pointer inside the terminal's area while marking.
        const QPoint global = event->globalPosition().toPoint();
        const QPoint kept(std::clamp(global.x(), confineRect_.left(), confineRect_.right()),
                          std::clamp(global.y(), confineRect_.top(), confineRect_.bottom()));
        if (kept != global) {
            QCursor::setPos(kept);
            pos += kept - global;
        }
    }
    if (pos.y() == anchorTop_ && pos.x() == anchorLeft_) return;
    EraseDrag();
    dragRect_ = TPixelRect{anchorLeft_, anchorTop_, SnapPixelToLeft(pos.x()) + CharWidth(),
                           SnapPixelToTop(pos.y()) + LineHeight() + 4};
    dragDrawn_ = true;
    const TPixelRect& d = dragRect_;
    InvalidateClient(std::min(d.Left, d.Right) - 1, std::min(d.Top, d.Bottom) - 1,
                     std::max(d.Left, d.Right) + 1, std::max(d.Top, d.Bottom) + 1);
}

void TTnEmulVT::mouseReleaseEvent(QMouseEvent* event)
{
    TEmulVT::mouseReleaseEvent(event);
    buttonDown_ = false;
    ReleaseMouseHold();
    EraseDrag();
    // Narrower than a cell, lower than a line (dragged left or up), or only the cell where the
    // drag began (a click that moved a little): no mark.
    const int width = dragRect_.Right - dragRect_.Left;
    const int height = dragRect_.Bottom - dragRect_.Top;
    if (width < CharWidth() || height < LineHeight() ||
        (width <= CharWidth() && height <= LineHeight() + 4))
        dragRect_.Top = -1;
    SetMarkRect(dragRect_);
}

void TTnEmulVT::FocusLost()
{
    // A drag that loses the focus ends there: nothing stays captured or confined.
    buttonDown_ = false;
    ReleaseMouseHold();
    EraseDrag();
}

void TTnEmulVT::hideEvent(QHideEvent* event)
{
    TEmulVT::hideEvent(event);
    buttonDown_ = false;
    ReleaseMouseHold();
    EraseDrag();
}

void TTnEmulVT::PaintOverlay(QPainter& Painter)
{
    if (!dragDrawn_) return;
    const TPixelRect& d = dragRect_;
    const QRect r = QRect(QPoint(d.Left, d.Top), QPoint(d.Right - 1, d.Bottom - 1)).normalized();
    Painter.save();
    Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    Painter.setPen(QPen(Qt::white, 0, Qt::DotLine));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawRect(r.adjusted(0, 0, -1, -1));
    Painter.restore();
}
