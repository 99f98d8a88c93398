// TTelnetForm ("TelnetForm"): the telnet terminal window. A host name and port, Connect,
// Disconnect and Options buttons, a local-echo switch, a status line and the telnet terminal
// TnEmulVT1 below them. The frame opens a new one for each "Telnet" command; each window has its
// own terminal and session, and closing it ends its session.
//
// States and status texts: idle ("Not connected", then the socket library's description when the
// window is first shown; Connect enabled, Disconnect disabled), connecting ("Connecting"; both
// disabled), connected ("Connected"; Disconnect enabled) and closed ("Not connected"; Connect
// enabled, Disconnect disabled). A failed attempt passes through connected on its way to closed,
// as the terminal reports the failure as a connect event followed by the closed event. Errors
// raised while connecting (a host or service name that cannot be resolved) are shown in the
// program's error box; Connect is enabled again and the status stays "Connecting". With an empty
// host name Connect starts nothing and stays disabled (only a session-closed event enables it).
//
// The window's "&File" menu ("New Editor", "E&xit") merges into the frame's menu bar while it is
// the active child window.
#pragma once

#include "frame/FrameCommands.h"
#include "terminal/TelnetTerminal.h"

#include <QWidget>

class QCheckBox;
class QCloseEvent;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

class TTelnetForm : public QWidget, public frame::TMenuMergeClient {
    Q_OBJECT
public:
    // The terminal's top edge and the margins the resize rule keeps.
    static constexpr int TerminalTop = 56;
    static constexpr int RightMargin = 5;
    static constexpr int BottomMargin = 10;
    // The site name sent when the host asks for the location.
    static constexpr const char* SiteName = "Zarvos";

    explicit TTelnetForm(QWidget* parent = nullptr);
    ~TTelnetForm() override;

    QList<QMenu*> MergedMenus() const override;

    // ---- Handlers ----
    void FormCreate();
    void FormShow();
    void FormResize();
    void ConnectButtonClick();
    void DisconnectButtonClick();
    void TnEmulVT1SessionConnected(QObject* Sender);
    void TnEmulVT1SessionClosed(QObject* Sender);
    void OptionsButtonClick();
    void LocalEchoCheckBoxClick();
    void NewEditor1Click();
    void Exit1Click();

    // ---- Controls ----
    QLabel* Label1 = nullptr;
    QLineEdit* HostNameEdit = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* PortEdit = nullptr;
    QLabel* StatusLabel = nullptr;
    QPushButton* ConnectButton = nullptr;
    QPushButton* DisconnectButton = nullptr;
    QPushButton* OptionsButton = nullptr;
    QCheckBox* LocalEchoCheckBox = nullptr;
    TTnEmulVT* TnEmulVT1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* NewEditor1 = nullptr;
    QAction* Exit1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormClose();

    bool shownOnce_ = false;
};
