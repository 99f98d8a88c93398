// Start-up of the program: the windows of the start-up table, created in order, and the
// registration of the windows that other libraries build.
#pragma once

#include <QApplication>

class TMyMDI;

// Creates, in this order: the frame MyMDI (shown, the main window), the editor myForm1 (shown
// as its child, "Untitled"), the FTP login window Form1 and transfer window copyform (hidden)
// and the about window FrmAbout (hidden). Registers the FTP windows with the frame (the FTP entry
// rule). Sets the program-wide references and returns the frame. The caller owns the frame (and
// through it every window).
TMyMDI* CreateStartupWindows();

// The application object: an exception that no handler catches reaches the default error box
// (its message and an OK button) and the program goes on with the next event.
class TZarvosApplication : public QApplication {
public:
    TZarvosApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
