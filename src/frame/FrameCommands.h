// What the windows of the program may ask of the frame window, without linking the app library.
//
// Dependencies point one way (app -> windows -> cores -> net -> platform), yet the child windows
// run frame operations from their own menus (the editor's "New Window", "FTP", "Telnet", ...; the
// telnet terminal's "New Editor" and "E&xit") and the FTP viewer opens editor windows inside the
// frame. This header-only target (`frame_iface`) sits below the windows:
//
// - TFrameCommands: the frame's operations. The frame (TMyMDI in src/app) implements it and
//   registers itself with SetFrame() when it is created; windows reach it through Frame(), which
//   is null only when a window runs without a frame (some tests).
//
// - TMenuMergeClient: a child window with a menu bar of its own derives from it and returns its
//   menus (group 0). While such a window is the active child, the frame shows these menus in
//   place of its own File and Internet menus, followed by its Window and About menus. The menus
//   stay owned by the child and are never shown elsewhere; a child that changes which menus it
//   has calls Frame()->MenusChanged(). A child window that does not derive from it leaves the
//   frame's menus in place.
//
// - Frame commands that open windows built in other libraries (FTP, Telnet, Telnet without
//   terminal emulation) are available only once the program has registered a factory for them
//   with the frame (TMyMDI::SetTelnetFactory and friends, done at start-up in src/app); until then
//   their menu entries, in the frame and in every child window, are disabled.
//   CommandAvailable() tells a child window whether to enable its own entry for a command.
//
// Program-wide window references live beside each window class, as QPointer (null once the
// window is gone): MyMDI in app/FrameWindow.h, FrmAbout in app/AboutWindow.h, myForm1 in
// editor/EditorWindow.h; the FTP windows add Form1 and copyform beside their classes.
#pragma once

#include <QList>
#include <QString>

class QMdiSubWindow;
class QMenu;
class QWidget;

namespace frame {

enum class TFrameCommand {
    NewEditor,              // "New Editor"
    Ftp,                    // "FTP": the FTP entry rule
    Telnet,                 // "Telnet": a new telnet terminal window
    TelnetNoTermEmulation,  // "Telnet (No Term. Emulation)": a new plain telnet window
    Exit                    // "Exit": close the frame, which ends the program
};

class TFrameCommands {
public:
    virtual ~TFrameCommands() = default;

    // The frame's menu operations (the frame's own entries run the same functions).
    virtual void New1Click() = 0;
    virtual void StartFTP1Click() = 0;
    virtual void Telnet1Click() = 0;
    virtual void TelnetNoTermEmulation1Click() = 0;
    virtual void Exit1Click() = 0;

    // Whether the command can run (a window library has registered the window it opens).
    virtual bool CommandAvailable(TFrameCommand command) const = 0;

    // Makes child a child window of the frame, owned by the frame and destroyed when closed,
    // and shows it. The child's size at the call becomes its window's outer size, shrunk to the
    // frame's area when that is smaller; the window opens fully inside that area.
    virtual QMdiSubWindow* AddChildWindow(QWidget* child) = 0;

    // The open window whose component name (objectName) is exactly name, or null.
    virtual QWidget* FindWindowByName(const QString& name) const = 0;

    // A child window changed the set of menus it merges; the frame merges again.
    virtual void MenusChanged() = 0;
};

// A child window whose menu bar merges into the frame's (see above).
class TMenuMergeClient {
public:
    virtual ~TMenuMergeClient() = default;
    // The menus, left to right.
    virtual QList<QMenu*> MergedMenus() const = 0;
};

namespace detail {
inline TFrameCommands*& FrameSlot()
{
    static TFrameCommands* frame = nullptr;
    return frame;
}
}  // namespace detail

// The program's frame, or null.
inline TFrameCommands* Frame()
{
    return detail::FrameSlot();
}

// Called by the frame when it is created (with itself) and destroyed (with null).
inline void SetFrame(TFrameCommands* frame)
{
    detail::FrameSlot() = frame;
}

}  // namespace frame
