// TTnEmulVT: the terminal view joined to a telnet session (TTnCnx) that it owns. It connects to
// HostName:Port, shows what the server sends, sends what the user types and the function-key
// sequences, writes its own connection messages on the screen and keeps per-host settings in a
// settings file ("TNEMULVT.INI" by default, in the per-user configuration directory).
//
// Settings file: one section per host name, exactly as entered, with the keys FontName ("*": no
// font stored), FontSize (points), FontPitch (0 default, 1 variable, 2 fixed), FontStyle (1 bold,
// 2 italic, 4 underline, 8 strike-out), LineHeight, Rows, Cols, AutoCR, AutoLF, LocalEcho,
// MonoChrome, UpperLock, Xlat and FKeys, written in this order; booleans are 0 or 1 and read true
// when non-zero. Missing keys read as FontSize 9, FontPitch 12 (none), FontStyle 0, LineHeight 12,
// Rows 25, Cols 80, FKeys 0 (SCO) and the switches 0. Values that do not fit the terminal are
// limited when they reach it: Rows 1..50, Cols 1..132, LineHeight 1..1024, FontSize 1..200 (a
// size below 1 reads as 9). A font that is not installed or not fixed pitch is replaced by the
// system's fixed-pitch font at the stored size (see FixedPitchFont). A LineHeight below the
// font's height is kept as it is stored, and the cell grows to the font's height
// (TCustomEmulVT::LineHeightSetting and LineHeight).
//
// Connection messages on the screen: "Connecting to '<host>'" when Connect starts;
// "Connected" or "Connection failed: <socket error text>" (with a beep) when the attempt ends;
// "*** Server has closed ***" between line breaks (with a beep) when the session ends. A refused
// connection thus shows the failure line, then the closed line.
//
// Typing: the view's key handling hands each typed byte to KeyPress, which sends it as it is (no
// SendMap), in capitals for a..z with UpperLock, echoed on the screen with LocalEcho (the view's
// property). Errors while displaying received bytes, echoing typed characters and sending typed
// characters or function-key sequences (for instance while not connected) are swallowed.
//
// Mouse marking: dragging with a button down draws a cell-snapped focus rectangle; releasing
// makes it the view's MarkRect (framed by the paint routine) unless it was dragged left or up or
// stayed within the cell where it began; a click removes the mark. While dragging, the mouse is
// captured and the pointer is kept inside the terminal's area less its scroll bar; both are
// released on every way out: button up, focus loss, the view being hidden or destroyed.
#pragma once

#include "net/WSocket.h"
#include "telnet/TnCnx.h"
#include "terminal/TerminalView.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {
class IniFile;
}

// Data about to be displayed; Len is the handler's own copy (changing it changes nothing shown).
using TTnEmulVTDataAvailable =
    std::function<void(QObject* Sender, char* Buffer, std::int32_t& Len)>;

class TTnEmulVT : public TEmulVT {
    Q_OBJECT
public:
    // Keys of a host section, in the order they are written.
    static const char* const SettingKeys[14];

    explicit TTnEmulVT(QWidget* parent = nullptr);
    ~TTnEmulVT() override;

    // ---- Operations ----
    // Nothing when HostName is empty. Otherwise clears the screen, starts the session to
    // HostName:Port (a host name that cannot be resolved raises the session's error here),
    // writes "Connecting to '<host>'" and takes the keyboard focus.
    void Connect();
    void Disconnect();
    std::int32_t SendText(const std::string& S);
    // Loads the settings stored for HostName (nothing when it is empty).
    void ReadHostSettings();
    // Runs the program's options dialog for HostName (after reading the host's settings again)
    // and, after OK, applies the result and stores it: the font as chosen, the other keys as
    // the terminal took them (Rows, Cols and LineHeight within its range). Nothing when HostName
    // is empty.
    void ShowOptionsDialog();
    // LocalOn: asks the server to stop echoing (DONT ECHO); otherwise DO ECHO.
    void RequestEchoMode(bool LocalOn);
    bool SessionLocalEcho() const;
    // DisplayText, then a full repaint.
    void DisplayMessage(std::string_view S);

    void KeyPress(char& Key) override;
    void SendKeySequence(const char* Buffer, std::int32_t Len) override;

    // Session event handlers.
    void SessionConnected(TTnCnx* Sender, std::uint16_t Error);
    void SessionClosed(TTnCnx* Sender, std::uint16_t Error);
    void SessionDataAvailable(TTnCnx* Sender, char* Buffer, std::int32_t Len);

    // ---- Properties ----
    TTnCnx* Session() const { return session_; }
    std::uint16_t Error() const { return error_; }
    const QString& IniFilename() const { return iniFilename_; }
    void SetIniFilename(const QString& Value) { iniFilename_ = Value; }
    const QString& SectionName() const { return sectionName_; }
    void SetSectionName(const QString& Value) { sectionName_ = Value; }
    const QString& KeyName() const { return keyName_; }
    void SetKeyName(const QString& Value) { keyName_ = Value; }
    const QString& HostName() const { return hostName_; }
    void SetHostName(const QString& Value) { hostName_ = Value; }
    const QString& Port() const { return port_; }
    void SetPort(const QString& Value) { port_ = Value; }
    std::int32_t Tag() const { return tag_; }
    void SetTag(std::int32_t Value) { tag_ = Value; }
    std::string Location() const;
    void SetLocation(const std::string& Value);
    bool UpperLock() const { return upperLock_; }
    void SetUpperLock(bool Value) { upperLock_ = Value; }

    // The mouse-marking state, for tests.
    const TPixelRect& DragRect() const { return dragRect_; }
    bool DragDrawn() const { return dragDrawn_; }
    bool MouseCaptured() const { return captured_; }
    bool PointerConfined() const { return confined_; }
    QRect ConfineRect() const { return confineRect_; }

    // ---- Events ----
    TNotifyEvent OnSessionClosed;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnNamesClick;
    TNotifyEvent OnSendLoc;
    TNotifyEvent OnTermType;
    TNotifyEvent OnLocalEcho;
    TTnEmulVTDataAvailable OnDataAvailable;
    // The session's own event (its Sender is the session).
    TNotifyEvent& OnEndOfRecord() { return session_->OnEndOfRecord; }

protected:
    virtual void TriggerDataAvailable(char* Buffer, std::int32_t Len);
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void PaintOverlay(QPainter& Painter) override;
    void FocusLost() override;

private:
    void EraseDrag();
    void ReleaseMouseHold();
    QPoint ClientPos(const QPointF& widgetPos) const;

    TTnCnx* session_ = nullptr;
    std::uint16_t error_ = 0;
    QString iniFilename_ = QStringLiteral("TNEMULVT.INI");
    QString sectionName_ = QStringLiteral("Windows");
    QString keyName_ = QStringLiteral("TnEmulVT");
    QString hostName_;
    QString port_ = QStringLiteral("telnet");
    std::int32_t tag_ = 0;
    bool upperLock_ = false;

    bool buttonDown_ = false;
    bool captured_ = false;
    bool confined_ = false;
    QRect confineRect_;  // global coordinates
    int anchorTop_ = 0;
    int anchorLeft_ = 0;
    TPixelRect dragRect_;
    bool dragDrawn_ = false;
};

// Writes FontName, FontSize, FontPitch and FontStyle of Font into Section.
void FontToSettings(const QFont& Font, platform::IniFile& File, const QString& Section);
// Reads them back into Font; a FontName of "*" (or none) leaves Font as it is.
void SettingsToFont(QFont& Font, const platform::IniFile& File, const QString& Section);
