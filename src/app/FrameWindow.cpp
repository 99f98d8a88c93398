#include "app/FrameWindow.h"

#include "app/AboutWindow.h"
#include "editor/EditorWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>

namespace {

QAction* MenuEntry(QMenu* menu, const char* name, const QString& text)
{
    QAction* a = menu->addAction(text);
    a->setObjectName(QLatin1String(name));
    return a;
}

// The program's window icon: a page with lines, drawn here (the desktop entry has the SVG).
QIcon ProgramIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xf5, 0xf5, 0xf0));
    p.setPen(QPen(QColor(0x33, 0x44, 0x66), 1.5));
    p.drawRoundedRect(QRectF(5, 2, 22, 28), 2, 2);
    p.setPen(QPen(QColor(0x33, 0x66, 0x99), 2));
    for (int y = 9; y <= 23; y += 5)
        p.drawLine(9, y, 23, y);
    return QIcon(pm);
}

}  // namespace

TMyMDI::TMyMDI(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MyMDI"));
    setWindowTitle(QStringLiteral("ZarvosUnix/Dos/RTF Editor/ FTP/Telnet Clients"));
    setWindowIcon(ProgramIcon());
    resize(667, 483);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("MdiArea"));
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);

    BuildMenus();
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) {
        MergeMenus();
        UpdateWindowList();
    });
    frame::SetFrame(this);
    MergeMenus();
}

TMyMDI::~TMyMDI()
{
    if (frame::Frame() == this) frame::SetFrame(nullptr);
    // The child windows go first, while the frame is still whole, and without the merging
    // and listing that their going would start.
    disconnect(mdiArea_, nullptr, this, nullptr);
    for (QMdiSubWindow* sub : mdiArea_->subWindowList()) {
        disconnect(sub, nullptr, this, nullptr);
        if (sub->widget()) disconnect(sub->widget(), nullptr, this, nullptr);
    }
    delete mdiArea_;
    mdiArea_ = nullptr;
}

void TMyMDI::BuildMenus()
{
    File1 = new QMenu(QStringLiteral("File"), this);
    File1->setObjectName(QStringLiteral("File1"));
    New1 = MenuEntry(File1, "New1", QStringLiteral("New Editor"));
    N2 = File1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    Exit1 = MenuEntry(File1, "Exit1", QStringLiteral("Exit"));

    Internet1 = new QMenu(QStringLiteral("Internet"), this);
    Internet1->setObjectName(QStringLiteral("Internet1"));
    StartFTP1 = MenuEntry(Internet1, "StartFTP1", QStringLiteral("FTP"));
    Telnet1 = MenuEntry(Internet1, "Telnet1", QStringLiteral("Telnet"));
    TelnetNoTermEmulation1 = MenuEntry(Internet1, "TelnetNoTermEmulation1",
                                       QStringLiteral("Telnet (No Term. Emulation)"));

    Window1 = new QMenu(QStringLiteral("Window"), this);
    Window1->setObjectName(QStringLiteral("Window1"));
    Tile1 = MenuEntry(Window1, "Tile1", QStringLiteral("Tile"));
    Cascade1 = MenuEntry(Window1, "Cascade1", QStringLiteral("Cascade"));
    ArrangeIcons1 = MenuEntry(Window1, "ArrangeIcons1", QStringLiteral("Arrange Icons"));

    // "About" is a command of the menu bar itself, without entries.
    About1 = new QAction(QStringLiteral("About"), this);
    About1->setObjectName(QStringLiteral("About1"));

    connect(New1, &QAction::triggered, this, &TMyMDI::New1Click);
    connect(Exit1, &QAction::triggered, this, &TMyMDI::Exit1Click);
    connect(StartFTP1, &QAction::triggered, this, &TMyMDI::StartFTP1Click);
    connect(Telnet1, &QAction::triggered, this, &TMyMDI::Telnet1Click);
    connect(TelnetNoTermEmulation1, &QAction::triggered, this,
            &TMyMDI::TelnetNoTermEmulation1Click);
    connect(Tile1, &QAction::triggered, this, &TMyMDI::Tile1Click);
    connect(Cascade1, &QAction::triggered, this, &TMyMDI::Cascade1Click);
    connect(ArrangeIcons1, &QAction::triggered, this, &TMyMDI::ArrangeIcons1Click);
    connect(About1, &QAction::triggered, this, &TMyMDI::About1Click);
    connect(Window1, &QMenu::aboutToShow, this, &TMyMDI::UpdateWindowList);
    UpdateCommandEntries();
}

// ---- Menu merging and the window list ------------------------------------------------------

void TMyMDI::MergeMenus()
{
    QList<QMenu*> groupZero;
    if (QMdiSubWindow* sub = mdiArea_->currentSubWindow()) {
        if (auto* client = dynamic_cast<frame::TMenuMergeClient*>(sub->widget()))
            groupZero = client->MergedMenus();
        groupZero.removeAll(nullptr);
    }
    if (groupZero.isEmpty()) groupZero = {File1, Internet1};
    QMenuBar* bar = menuBar();
    const QList<QAction*> shown = bar->actions();
    QList<QAction*> wanted;
    for (QMenu* m : groupZero)
        wanted.append(m->menuAction());
    wanted.append(Window1->menuAction());
    wanted.append(About1);
    if (shown == wanted) return;
    for (QAction* a : shown)
        bar->removeAction(a);
    bar->addActions(wanted);
}

void TMyMDI::MenusChanged()
{
    MergeMenus();
}

void TMyMDI::UpdateWindowList()
{
    for (QAction* a : windowListActions_) {
        Window1->removeAction(a);
        a->deleteLater();
    }
    windowListActions_.clear();
    const QList<QMdiSubWindow*> subs = mdiArea_->subWindowList(QMdiArea::CreationOrder);
    if (subs.isEmpty()) return;
    QAction* sep = Window1->addSeparator();
    windowListActions_.append(sep);
    int number = 1;
    for (QMdiSubWindow* sub : subs) {
        QString title = sub->windowTitle();
        title.replace(QLatin1String("&"), QLatin1String("&&"));
        const QString text = number < 10 ? QStringLiteral("&%1 %2").arg(number).arg(title)
                                         : QStringLiteral("%1 %2").arg(number).arg(title);
        QAction* a = Window1->addAction(text);
        a->setCheckable(true);
        a->setChecked(sub == mdiArea_->currentSubWindow());
        QPointer<QMdiSubWindow> target(sub);
        connect(a, &QAction::triggered, this, [this, target] {
            if (!target) return;
            if (target->isMinimized()) target->showNormal();
            mdiArea_->setActiveSubWindow(target);
        });
        windowListActions_.append(a);
        ++number;
    }
}

QStringList TMyMDI::WindowList()
{
    UpdateWindowList();
    QStringList titles;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::CreationOrder))
        titles.append(sub->windowTitle());
    return titles;
}

// ---- Child windows ----------------------------------------------------------------------------

QMdiSubWindow* TMyMDI::AddChildWindow(QWidget* child)
{
    const QSize outer = child->size();
    QMdiSubWindow* sub = mdiArea_->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    sub->resize(outer);
    PlaceChildWindow(sub);
    connect(child, &QWidget::windowTitleChanged, this, [this] { UpdateWindowList(); });
    // When a child goes, the merged menus and the list follow once it is gone.
    connect(sub, &QObject::destroyed, this, [this] {
        QTimer::singleShot(0, this, [this] {
            MergeMenus();
            UpdateWindowList();
        });
    });
    sub->show();
    mdiArea_->setActiveSubWindow(sub);
    MergeMenus();
    UpdateWindowList();
    return sub;
}

void TMyMDI::PlaceChildWindow(QMdiSubWindow* sub)
{
    // Before the frame is laid out its area has no meaningful size: the window keeps its own.
    if (!mdiArea_->isVisible()) return;
    const QSize area = mdiArea_->viewport()->size();
    if (area.isEmpty()) return;
    const QSize size = sub->size().boundedTo(area).expandedTo(sub->minimumSizeHint());
    QPoint pos(0, 0);
    QMdiSubWindow* last = lastPlaced_;
    if (last && last != sub && last->isVisible() && !last->isMinimized() && !last->isMaximized()) {
        const int step =
            std::max(8, sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, sub));
        pos = last->pos() + QPoint(step, step);
    }
    // Where the cascade would push the window out of the area it starts again at the top left.
    if (pos.x() < 0 || pos.y() < 0 || pos.x() + size.width() > area.width() ||
        pos.y() + size.height() > area.height())
        pos = QPoint(0, 0);
    sub->setGeometry(QRect(pos, size));
    lastPlaced_ = sub;
}

QWidget* TMyMDI::FindWindowByName(const QString& name) const
{
    // The program's open windows: every top-level window (shown or hidden) and every child
    // window of the frame.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name) return w;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList())
        if (sub->widget() && sub->widget()->objectName() == name) return sub->widget();
    return nullptr;
}

void TMyMDI::ShowWindow(QWidget* window)
{
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

// ---- Operations -------------------------------------------------------------------------------

void TMyMDI::New1Click()
{
    AddChildWindow(new TmyForm1);
}

bool TMyMDI::CommandAvailable(frame::TFrameCommand command) const
{
    switch (command) {
    case frame::TFrameCommand::NewEditor:
    case frame::TFrameCommand::Exit:
        return true;
    case frame::TFrameCommand::Ftp:
        return ftp_.createLogin && ftp_.isConnected && ftp_.loginWindow && ftp_.transferWindow;
    case frame::TFrameCommand::Telnet:
        return bool(telnetFactory_);
    case frame::TFrameCommand::TelnetNoTermEmulation:
        return bool(tnDemoFactory_);
    }
    return false;
}

void TMyMDI::UpdateCommandEntries()
{
    StartFTP1->setEnabled(CommandAvailable(frame::TFrameCommand::Ftp));
    Telnet1->setEnabled(CommandAvailable(frame::TFrameCommand::Telnet));
    TelnetNoTermEmulation1->setEnabled(
        CommandAvailable(frame::TFrameCommand::TelnetNoTermEmulation));
}

void TMyMDI::SetTelnetFactory(WindowFactory factory)
{
    telnetFactory_ = std::move(factory);
    UpdateCommandEntries();
}

void TMyMDI::SetTnDemoFactory(WindowFactory factory)
{
    tnDemoFactory_ = std::move(factory);
    UpdateCommandEntries();
}

void TMyMDI::SetFtpWindows(FtpWindows windows)
{
    ftp_ = std::move(windows);
    UpdateCommandEntries();
}

void TMyMDI::StartFTP1Click()
{
    if (!CommandAvailable(frame::TFrameCommand::Ftp)) return;
    if (!FindWindowByName(QStringLiteral("Form1"))) {
        QWidget* login = ftp_.createLogin();
        if (login && !login->parentWidget())
            login->setParent(this, login->windowFlags() | Qt::Window);
        ShowWindow(login);
        return;
    }
    ShowWindow(ftp_.isConnected() ? ftp_.transferWindow() : ftp_.loginWindow());
}

void TMyMDI::Telnet1Click()
{
    if (telnetFactory_)
        if (QWidget* w = telnetFactory_()) AddChildWindow(w);
}

void TMyMDI::TelnetNoTermEmulation1Click()
{
    if (tnDemoFactory_)
        if (QWidget* w = tnDemoFactory_()) AddChildWindow(w);
}

void TMyMDI::Exit1Click()
{
    close();
}

void TMyMDI::closeEvent(QCloseEvent* event)
{
    // Every child window is asked to close (an editor with unsaved work asks its question);
    // one that refuses keeps the frame, and the program, running.
    for (QMdiSubWindow* sub : mdiArea_->subWindowList()) {
        if (!sub->close()) {
            event->ignore();
            return;
        }
    }
    event->accept();
    emit FrameClosed();
}

void TMyMDI::Tile1Click()
{
    // Horizontal tiling: the windows one above the other, each the full width.
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::StackingOrder))
        if (sub->isVisible() && !sub->isMinimized()) windows.append(sub);
    if (windows.isEmpty()) return;
    const QRect area = mdiArea_->viewport()->rect();
    const int n = int(windows.size());
    const int height = std::max(1, area.height() / n);
    // The active window goes on top.
    std::reverse(windows.begin(), windows.end());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* sub = windows[i];
        if (sub->isMaximized()) sub->showNormal();
        const int top = area.top() + i * height;
        const int h = i == n - 1 ? area.bottom() + 1 - top : height;
        sub->setGeometry(area.left(), top, area.width(), h);
    }
}

void TMyMDI::Cascade1Click()
{
    mdiArea_->cascadeSubWindows();
}

void TMyMDI::ArrangeIcons1Click()
{
    // Minimised windows lined up from the bottom left, row above row.
    const QRect area = mdiArea_->viewport()->rect();
    int x = area.left();
    int rowBottom = area.bottom() + 1;
    int rowHeight = 0;
    for (QMdiSubWindow* sub : mdiArea_->subWindowList(QMdiArea::CreationOrder)) {
        if (!sub->isMinimized()) continue;
        const QSize s = sub->size();
        if (x > area.left() && x + s.width() > area.right() + 1) {
            x = area.left();
            rowBottom -= rowHeight;
            rowHeight = 0;
        }
        rowHeight = std::max(rowHeight, s.height());
        sub->move(x, rowBottom - s.height());
        x += s.width();
    }
}

void TMyMDI::About1Click()
{
    if (QWidget* found = FindWindowByName(QStringLiteral("FrmAbout"))) {
        ShowWindow(FrmAbout ? FrmAbout.data() : found);
        return;
    }
    FrmAbout = new TFrmAbout(this);
    ShowWindow(FrmAbout);
}
