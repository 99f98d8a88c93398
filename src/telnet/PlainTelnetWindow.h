// TTnDemoForm: the plain telnet window. One telnet session (TnCnx) without terminal emulation:
// the text the host sends is appended to a plain text area, each character typed into that area
// goes to the host as one byte, and nothing is echoed locally.
//
// Two states: Disconnected (initial and after each session-closed event: Connect enabled, text
// area disabled, Connect focused) and Connected (after each session-connected event, whatever
// its error: the text area is emptied, enabled and focused, Disconnect enabled). A connect that
// fails therefore passes through Connected before the closed event brings Disconnected back.
//
// Keys in the text area: every key press is consumed, so cursor, editing and function keys do
// nothing. A key that types a character sends that character as one byte: Enter CR (13),
// Backspace 8, Tab 9, Escape 27, control letters their control codes, other characters their
// Latin-1 code ("?" for characters outside Latin-1). Alt with a key types nothing (Alt+C and Alt+D
// are the buttons' mnemonics).
//
// Received text (AppendReceivedText): bytes are shown as Latin-1 characters up to the first NUL.
// CR starts a new line; an LF right after a CR of the same text is dropped; every other byte is
// appended to the last line as it is. A line of the text area cannot hold a line-feed character,
// so an LF that is kept is shown as the symbol U+240A (SYMBOL FOR LINE FEED).
//
// Capacity of the text area: a line holds at most MaxLineLength characters (a longer one goes on
// in the next line, so that a host sending without line ends cannot make every append lay out an
// ever longer line), and the area keeps the last MaxLines lines (the oldest go when it is full).
//
// Errors raised while connecting, sending or closing (an unknown host name, for instance) are
// shown in the program's error box (frame::ErrorBox) with their message; the window stays in its
// state.
//
// The window is a child window of the frame: the frame's "Telnet (No Term. Emulation)" (and the
// editors' entry of that name) creates a new one each time through the factory registered in
// src/app/Startup.cpp. Closing it destroys it with its session (a window shown on its own
// deletes itself on close).
#pragma once

#include "telnet/TnCnx.h"

#include <QWidget>

#include <cstdint>
#include <string_view>

class QCloseEvent;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class TTnDemoForm : public QWidget {
    Q_OBJECT
public:
    // The character that stands for a received LF kept inside a line.
    static constexpr char16_t LineFeedSymbol = 0x240A;
    // Capacity of the text area (see above).
    static constexpr int MaxLineLength = 1024;
    static constexpr int MaxLines = 100000;

    explicit TTnDemoForm(QWidget* parent = nullptr);
    ~TTnDemoForm() override;

    // ---- Handlers ----
    void ConnectButtonClick();
    void DisconnectButtonClick();
    void TnCnxSessionConnected(TTnCnx* Sender, std::uint16_t Error);
    void TnCnxSessionClosed(TTnCnx* Sender, std::uint16_t Error);
    void TnCnxDataAvailable(TTnCnx* Sender, char* Buffer, std::int32_t Len);
    // Consumes the key; returns the byte the key types, or -1 when it types none.
    int DisplayMemoKeyDown(const QKeyEvent* Key);
    // Sends one typed character as one byte.
    void DisplayMemoKeyPress(char Key);
    // Appends received text (taken up to its first NUL) to the text area.
    void AppendReceivedText(std::string_view Text);

    // ---- Controls ----
    QFrame* Panel1 = nullptr;
    QLabel* HostLabel = nullptr;
    QLineEdit* HostEdit = nullptr;
    QLabel* PortLabel = nullptr;
    QLineEdit* PortEdit = nullptr;
    QPushButton* ConnectButton = nullptr;
    QPushButton* DisconnectButton = nullptr;
    QLabel* InfoLabel = nullptr;
    QPlainTextEdit* DisplayMemo = nullptr;

    // The session, owned by the window.
    TTnCnx* TnCnx = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormClose();
    void ShowError(const QString& text);
};
