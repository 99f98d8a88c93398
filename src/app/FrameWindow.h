// TMyMDI: the frame window, a multiple-document main window whose child windows are the editors
// and, from later libraries, the telnet windows; free-standing windows (about, FTP) are owned by
// it.
//
// Menus: File and Internet (group 0), Window and About (group 9). While the active child window
// has menus of its own (frame::TMenuMergeClient), they take the place of File and Internet;
// Window and About stay at the right. The Window menu lists the child windows below Tile,
// Cascade and Arrange Icons.
//
// Windows that other libraries build are registered here at start-up (see Startup.cpp):
//   SetTelnetFactory, SetTnDemoFactory: "Telnet" and "Telnet (No Term. Emulation)" create a new
//     child window from the factory;
//   SetFtpWindows: the FTP entry rule (find "Form1"; create a login window if there is none,
//     else show the transfer window while connected and the login window otherwise).
// Until a factory is registered, its entries are disabled here and in every child window.
//
// A new child window opens fully inside the frame's area, cascading from the one opened before
// it, and shrunk (not below its minimum size) when the area is smaller than the window.
#pragma once

#include "frame/FrameCommands.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

class TMyMDI : public QMainWindow, public frame::TFrameCommands {
    Q_OBJECT

public:
    explicit TMyMDI(QWidget* parent = nullptr);
    ~TMyMDI() override;

    // ---- Frame operations (frame::TFrameCommands) ----
    void New1Click() override;
    void StartFTP1Click() override;
    void Telnet1Click() override;
    void TelnetNoTermEmulation1Click() override;
    void Exit1Click() override;
    bool CommandAvailable(frame::TFrameCommand command) const override;
    QMdiSubWindow* AddChildWindow(QWidget* child) override;
    QWidget* FindWindowByName(const QString& name) const override;
    void MenusChanged() override;

    // ---- Window menu and About ----
    void Tile1Click();
    void Cascade1Click();
    void ArrangeIcons1Click();
    void About1Click();

    // ---- Registration of windows built by other libraries ----
    using WindowFactory = std::function<QWidget*()>;
    void SetTelnetFactory(WindowFactory factory);
    void SetTnDemoFactory(WindowFactory factory);
    struct FtpWindows {
        WindowFactory createLogin;          // a new login window (when none named "Form1" exists)
        std::function<bool()> isConnected;  // the login window's FTP engine is connected
        std::function<QWidget*()> loginWindow;     // the program-wide login window (Form1)
        std::function<QWidget*()> transferWindow;  // the program-wide transfer window (copyform)
    };
    void SetFtpWindows(FtpWindows windows);

    QMdiArea* MdiArea() const { return mdiArea_; }
    // The child windows' titles as the Window menu lists them, in order.
    QStringList WindowList();

    QMenu* File1 = nullptr;
    QMenu* Internet1 = nullptr;
    QMenu* Window1 = nullptr;
    QAction* New1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* StartFTP1 = nullptr;
    QAction* Telnet1 = nullptr;
    QAction* TelnetNoTermEmulation1 = nullptr;
    QAction* Tile1 = nullptr;
    QAction* Cascade1 = nullptr;
    QAction* ArrangeIcons1 = nullptr;
    QAction* About1 = nullptr;

signals:
    // The frame was closed (every child window agreed): the program ends.
    void FrameClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void MergeMenus();
    void UpdateWindowList();
    void UpdateCommandEntries();
    // Places a new child window fully inside the frame's area: a title bar's height below and
    // right of the child window placed before it (or at the top left when that would not fit),
    // and no larger than the area.
    void PlaceChildWindow(QMdiSubWindow* sub);
    static void ShowWindow(QWidget* window);

    QMdiArea* mdiArea_ = nullptr;
    QPointer<QMdiSubWindow> lastPlaced_;  // the child window placed last
    QList<QAction*> windowListActions_;
    WindowFactory telnetFactory_;
    WindowFactory tnDemoFactory_;
    FtpWindows ftp_;
};

// The program's frame window; null before start-up and after the end.
inline QPointer<TMyMDI> MyMDI;
