#include "app/Startup.h"

#include "app/AboutWindow.h"
#include "app/FrameWindow.h"
#include "editor/EditorWindow.h"
#include "frame/MessageBoxes.h"
#include "ftp/FtpLoginWindow.h"
#include "ftp/FtpTransferWindow.h"
#include "platform/Beep.h"
#include "telnet/PlainTelnetWindow.h"
#include "terminal/TerminalWindow.h"

#include <exception>

TMyMDI* CreateStartupWindows()
{
    auto* frame = new TMyMDI;
    MyMDI = frame;
    frame->show();

    // Windows built by other libraries register here, before any child window exists, so every
    // child window's Internet entries are enabled from the start.
    frame->SetTelnetFactory([] { return new TTelnetForm; });
    frame->SetTnDemoFactory([] { return new TTnDemoForm; });
    frame->SetFtpWindows({
        .createLogin =
            [] {
                auto* login = new TForm1;
                if (!Form1) Form1 = login;
                return login;
            },
        .isConnected = [] { return Form1 && Form1->FtpClient1->Connected(); },
        .loginWindow = []() -> QWidget* { return Form1; },
        .transferWindow = []() -> QWidget* { return copyform; },
    });

    auto* editor = new TmyForm1;
    myForm1 = editor;
    frame->AddChildWindow(editor);

    // The FTP login window and the transfer window, free-standing and hidden.
    Form1 = new TForm1(frame);
    copyform = new Tcopyform(frame);
    Form1->AttachTransferWindow(copyform);

    FrmAbout = new TFrmAbout(frame);
    return frame;
}

TZarvosApplication::TZarvosApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("zarvos"));
    setApplicationVersion(QStringLiteral(ZARVOS_VERSION));
    setDesktopFileName(QStringLiteral("zarvos"));
    platform::SetBeepHook([](platform::BeepKind) { QApplication::beep(); });
}

bool TZarvosApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        frame::ErrorBox(activeWindow(), QString::fromUtf8(e.what()));
    } catch (...) {
        frame::ErrorBox(activeWindow(), QStringLiteral("Unknown error"));
    }
    return false;
}
