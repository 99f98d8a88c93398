// zarvos_screenshots: the program's own windows, made by its start-up, driven through their
// controls against local servers (pyftpdlib with a throttled data connection, socat + telnetd with
// a shell) and photographed into PNG files. scripts/screenshots runs it under a virtual X server;
// it is a separate program, so the shipped one carries none of this.
//
//   zarvos_screenshots OUTDIR [NAME...]
//
// NAME picks shots (all when none is given): frame-editor, ftp-login, ftp-transfer,
// ftp-transfer-progress, telnet-terminal (with telnet-terminal-closeup), plain-telnet,
// terminal-options. Each shot is
// OUTDIR/NAME.png. The program's settings go to the configuration directory of the environment
// (the script points XDG_CONFIG_HOME at a scratch directory). Exit status 0 when every shot was
// taken.
#include "app/FrameWindow.h"
#include "app/Startup.h"
#include "editor/EditorWindow.h"
#include "ftp/FtpLoginWindow.h"
#include "ftp/FtpTransferWindow.h"
#include "peers/FtpServerFixture.h"
#include "peers/TelnetdPeer.h"
#include "support/EventLoopWait.h"
#include "telnet/PlainTelnetWindow.h"
#include "terminal/TelnetTerminal.h"
#include "terminal/TerminalWindow.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>

using testsupport::ProcessEventsFor;
using testsupport::ProcessEventsUntil;

namespace {

QString outDir;
std::set<QString> wanted;
int failures = 0;

bool Wanted(const QString& name)
{
    return wanted.empty() || wanted.count(name) != 0;
}

void Fail(const QString& what)
{
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(what));
    ++failures;
}

// What the X server shows of the top-level window that holds widget, cut to widget's area.
QPixmap Grab(QWidget* widget)
{
    QWidget* top = widget->window();
    top->raise();
    ProcessEventsFor(150);
    widget->repaint();
    ProcessEventsFor(150);
    const QPoint at = widget->mapTo(top, QPoint(0, 0));
    QPixmap shot;
    if (QScreen* screen = top->screen())
        shot = screen->grabWindow(top->winId(), at.x(), at.y(), widget->width(), widget->height());
    // Platforms that cannot read the screen back (offscreen) get the widget's own rendering.
    if (shot.isNull() || shot.width() < widget->width()) shot = widget->grab();
    return shot;
}

void Save(const QString& name, QWidget* widget)
{
    const QString path = outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    const QPixmap shot = Grab(widget);
    if (shot.isNull() || !shot.save(path, "PNG"))
        Fail(QStringLiteral("cannot write ") + path);
    else
        std::printf("%s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
}

QMdiSubWindow* SubWindowOf(QWidget* child)
{
    return qobject_cast<QMdiSubWindow*>(child->parentWidget());
}

template <class Window>
Window* NewestChild(TMyMDI* frame)
{
    const QList<QMdiSubWindow*> subs = frame->MdiArea()->subWindowList(QMdiArea::CreationOrder);
    for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (auto* w = qobject_cast<Window*>((*it)->widget())) return w;
    return nullptr;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The served directory: a few ordinary files, long names, a large (sparse) file whose size has
// thirteen digits, a link and a file big enough to photograph its transfer.
bool FillFtpRoot(const QString& root)
{
    QDir dir(root);
    bool ok = dir.mkdir(QStringLiteral("docs")) && dir.mkdir(QStringLiteral("src"));
    ok = ok && WriteFile(dir.filePath(QStringLiteral("README.txt")),
                         "zarvos test server\nfiles to download and upload\n");
    ok = ok && WriteFile(dir.filePath(QStringLiteral("notes.unx")),
                         QByteArray("one\ntwo\nthree\n").repeated(40));
    QByteArray block(1 << 20, 'z');
    QFile big(dir.filePath(QStringLiteral("release-2.4.1-linux-x86_64.tar.gz")));
    ok = ok && big.open(QIODevice::WriteOnly);
    for (int i = 0; ok && i < 6; ++i)
        ok = big.write(block) == block.size();
    big.close();
    QFile image(dir.filePath(QStringLiteral("disk-image.img")));
    ok = ok && image.open(QIODevice::WriteOnly) && image.resize(1234567890123LL);
    image.close();
    ok = ok &&
         WriteFile(dir.filePath(QStringLiteral("a-rather-long-file-name-for-the-name-column.txt")),
                   "long\n");
    ok = ok && QFile::link(QStringLiteral("release-2.4.1-linux-x86_64.tar.gz"),
                           dir.filePath(QStringLiteral("latest.tar.gz")));
    return ok;
}

void ShotFrameWithEditor(TMyMDI* frame)
{
    TmyForm1* editor = myForm1;
    if (!editor) return Fail(QStringLiteral("no editor"));
    editor->MEMO1->setFocus();
    editor->MEMO1->textCursor().insertText(
        QStringLiteral("zarvos: a Unix/DOS/RTF editor, an FTP client and a telnet client in one "
                       "frame window.\n\nWord wrap is on: a long paragraph wraps at the edge of "
                       "the window instead of growing a horizontal scroll bar.\n"));
    // Formatting through the toolbar: a bulleted pair of lines, a centred line, and a
    // selection, as a user would make them.
    QTextCursor cursor = editor->MEMO1->textCursor();
    editor->MEMO1->insertPlainText(QStringLiteral("Bullets from the toolbar"));
    editor->Bulletsbutton->click();
    editor->MEMO1->insertPlainText(QStringLiteral("\nand a second item\n"));
    editor->Bulletsbutton->click();
    editor->centeralign->click();
    editor->MEMO1->insertPlainText(QStringLiteral("A centred line"));
    cursor = editor->MEMO1->textCursor();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor, 2);
    editor->MEMO1->setTextCursor(cursor);
    ProcessEventsFor(200);
    Save(QStringLiteral("frame-editor"), frame);
}

void FillLogin(const testsupport::PyFtpServer& server)
{
    TForm1* login = Form1;
    login->SiteCB->addItem(QStringLiteral("LOCAL TEST SERVER"));
    login->SiteCB->setCurrentIndex(login->SiteCB->count() - 1);
    login->HostNameEdit->setText(QStringLiteral("127.0.0.1"));
    login->PortEdit->setText(QString::number(server.Port()));
    login->UserNameEdit->setText(server.User());
    login->PasswordEdit->setText(server.Password());
    login->InitialLocalDirEdit->setText(QDir::homePath());
    login->InitialDirEdit->clear();
}

void ShotsFtp(TMyMDI* frame, const testsupport::PyFtpServer& server)
{
    frame->StartFTP1Click();
    if (!Form1 || !Form1->isVisible())
        return Fail(QStringLiteral("the FTP login window is not up"));
    FillLogin(server);
    ProcessEventsFor(200);
    if (Wanted(QStringLiteral("ftp-login"))) Save(QStringLiteral("ftp-login"), Form1);

    if (!Wanted(QStringLiteral("ftp-transfer")) && !Wanted(QStringLiteral("ftp-transfer-progress")))
        return;
    Form1->ConnectButClick();
    Tcopyform* transfer = copyform;
    if (!transfer ||
        !ProcessEventsUntil(
            [&] { return transfer->isVisible() && transfer->StringGrid1->RowCount() > 3; }, 20000))
        return Fail(QStringLiteral("the transfer window shows no listing"));
    Form1->hide();
    transfer->move(40, 40);
    ProcessEventsFor(300);
    if (Wanted(QStringLiteral("ftp-transfer"))) Save(QStringLiteral("ftp-transfer"), transfer);

    if (!Wanted(QStringLiteral("ftp-transfer-progress"))) return;
    TRemoteGrid* grid = transfer->StringGrid1;
    int row = -1;
    for (int r = 0; r < grid->RowCount(); ++r)
        if (grid->Cell(0, r).startsWith(QStringLiteral("release-"))) row = r;
    if (row < 0) return Fail(QStringLiteral("the big file is not listed"));
    grid->clearSelection();
    grid->selectRow(row);
    bool taken = false;
    // The download runs inside the engine's wait; the picture is taken from a timer meanwhile.
    QTimer::singleShot(2500, transfer, [&] {
        Save(QStringLiteral("ftp-transfer-progress"), transfer);
        taken = true;
        // The rest is not needed: the transfer window's Cancel stops it.
        transfer->CancelTransferBut->click();
    });
    transfer->DownloadButClick();
    ProcessEventsUntil([&] { return taken; }, 15000);
    if (!taken) Fail(QStringLiteral("the transfer ended before its picture"));
    transfer->hide();
}

QString ScreenText(const TTnEmulVT* term)
{
    QString text;
    const terminal::TScreen& s = term->Screen();
    for (int r = 0; r < s.Rows(); ++r) {
        const terminal::TLine& line = s.Line(r);
        for (int c = 0; c < s.Cols(); ++c)
            text += QLatin1Char(char(line.Chars[c]));
        text += QLatin1Char('\n');
    }
    return text;
}

void ShotsTelnet(TMyMDI* frame, const testsupport::TelnetdPeer& server)
{
    frame->Telnet1Click();
    TTelnetForm* form = NewestChild<TTelnetForm>(frame);
    if (!form) return Fail(QStringLiteral("no telnet terminal window"));
    form->HostNameEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(server.Port()));
    if (Wanted(QStringLiteral("terminal-options"))) {
        bool taken = false;
        QTimer::singleShot(800, form, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                Save(QStringLiteral("terminal-options"), dialog);
                taken = true;
                if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
            }
        });
        form->OptionsButtonClick();
        if (!taken) Fail(QStringLiteral("the options dialog did not come up"));
    }
    if (!Wanted(QStringLiteral("telnet-terminal"))) return;
    form->ConnectButtonClick();
    TTnEmulVT* term = form->TnEmulVT1;
    if (!ProcessEventsUntil(
            [&] {
                return ScreenText(term).contains(QLatin1String(testsupport::TelnetdPeer::Prompt));
            },
            15000))
        return Fail(QStringLiteral("no prompt from the telnet server"));
    term->SendText("ls --color=always /\r");
    ProcessEventsUntil([&] { return ScreenText(term).count(QLatin1String("zarvos$")) >= 2; },
                       10000);
    ProcessEventsFor(500);
    Save(QStringLiteral("telnet-terminal"), frame);
    // The terminal's cells at twice their size, from its own paint routine (also where the window
    // stands partly outside the frame).
    const QPixmap cells = term->grab();
    const QString closeUp = outDir + QStringLiteral("/telnet-terminal-closeup.png");
    if (cells.isNull() ||
        !cells.copy(0, 0, std::min(cells.width(), 420), std::min(cells.height(), 110))
             .scaled(QSize(840, 220), Qt::KeepAspectRatio, Qt::FastTransformation)
             .save(closeUp, "PNG"))
        Fail(QStringLiteral("cannot write ") + closeUp);
    form->DisconnectButtonClick();
    ProcessEventsFor(300);
}

void ShotPlainTelnet(TMyMDI* frame, const testsupport::TelnetdPeer& server)
{
    frame->TelnetNoTermEmulation1Click();
    TTnDemoForm* form = NewestChild<TTnDemoForm>(frame);
    if (!form) return Fail(QStringLiteral("no plain telnet window"));
    form->HostEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(server.Port()));
    form->ConnectButtonClick();
    if (!ProcessEventsUntil(
            [&] { return form->DisplayMemo->toPlainText().contains(QStringLiteral("zarvos$")); },
            15000))
        return Fail(QStringLiteral("no prompt in the plain telnet window"));
    for (const char c : std::string("echo hello\r"))
        form->DisplayMemoKeyPress(c);
    ProcessEventsUntil(
        [&] { return form->DisplayMemo->toPlainText().count(QStringLiteral("zarvos$")) >= 2; },
        10000);
    ProcessEventsFor(300);
    Save(QStringLiteral("plain-telnet"), SubWindowOf(form));
    form->DisconnectButtonClick();
    ProcessEventsFor(300);
}

}  // namespace

int main(int argc, char** argv)
{
    TZarvosApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zarvos_screenshots OUTDIR [NAME...]\n");
        return 2;
    }
    outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);
    for (int i = 2; i < argc; ++i)
        wanted.insert(QString::fromLocal8Bit(argv[i]));

    // A message box that nobody expects (an error of the program or a server) is reported and
    // answered, so that a run never hangs on it; the options dialog is answered by its step.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() == QLatin1String("OptForm")) return;
        QString text = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            text += QStringLiteral(": ") + box->text();
        Fail(QStringLiteral("unexpected dialog ") + text);
        if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
    });
    watchdog.start(1000);

    std::unique_ptr<TMyMDI> frame(CreateStartupWindows());
    frame->move(20, 20);
    ProcessEventsUntil([&] { return frame->isVisible(); }, 5000);
    ProcessEventsFor(500);

    if (Wanted(QStringLiteral("frame-editor"))) ShotFrameWithEditor(frame.get());

    if (Wanted(QStringLiteral("ftp-login")) || Wanted(QStringLiteral("ftp-transfer")) ||
        Wanted(QStringLiteral("ftp-transfer-progress"))) {
        testsupport::PyFtpServer server;
        QTemporaryDir root;
        // About 1 MB a second: the 6 MB download lasts long enough to be photographed.
        server.SetRateLimit(1 << 20);
        if (!root.isValid() || !FillFtpRoot(root.path()))
            Fail(QStringLiteral("cannot fill the FTP server's directory"));
        else if (!server.Start(root.path()))
            Fail(QStringLiteral("FTP server: ") + server.Error());
        else
            ShotsFtp(frame.get(), server);
        server.Stop();
    }

    if (Wanted(QStringLiteral("telnet-terminal")) || Wanted(QStringLiteral("plain-telnet")) ||
        Wanted(QStringLiteral("terminal-options"))) {
        testsupport::TelnetdPeer server;
        if (!server.Start()) {
            Fail(QStringLiteral("telnet server: ") + server.Error());
        } else {
            if (Wanted(QStringLiteral("telnet-terminal")) ||
                Wanted(QStringLiteral("terminal-options")))
                ShotsTelnet(frame.get(), server);
            if (Wanted(QStringLiteral("plain-telnet"))) ShotPlainTelnet(frame.get(), server);
        }
        server.Stop();
    }

    frame.reset();
    return failures == 0 ? 0 : 1;
}
