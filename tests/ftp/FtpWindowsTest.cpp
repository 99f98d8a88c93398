// The FTP login and transfer windows of the real program (start-up, frame, editor windows), driven
// with mouse and key events against pyftpdlib on loopback: site profiles, the connect chain and
// its log, the listing in the grid and the directory list, downloads, uploads, deletes, directory
// commands, the viewer and the frame's "FTP" entry. A scripted server sends a hostile listing.
#include "FtpTestUtil.h"
#include "app/FrameWindow.h"
#include "app/Startup.h"
#include "editor/EditorWindow.h"
#include "ftp/FtpLoginWindow.h"
#include "ftp/FtpProfiles.h"
#include "ftp/FtpTransferWindow.h"
#include "net/Wait.h"
#include "peers/FtpServerFixture.h"
#include "platform/IniFile.h"
#include "support/Modal.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>

#include <unistd.h>

using namespace ftptest;
using testsupport::ClickButton;
using testsupport::ModalAnswerer;
using testsupport::TypeText;

namespace {

QStringList Lines(const QPlainTextEdit* memo)
{
    return memo->toPlainText().split(u'\n');
}

QStringList DoneLines(const QPlainTextEdit* memo)
{
    QStringList done;
    for (const QString& line : Lines(memo))
        if (line.startsWith(QLatin1String("Done ("))) done.append(line);
    return done;
}

QString Done(const char* request, int error = 0)
{
    return QStringLiteral("Done (request=%1  error code=%2)")
        .arg(QLatin1String(request))
        .arg(error);
}

void SetText(QLineEdit* edit, const QString& text)
{
    edit->clear();
    QTest::keyClicks(edit, text);
}

QStringList RemoteDirs()
{
    QStringList names;
    for (int i = 0; i < copyform->RemoteDirList->count(); ++i)
        names.append(copyform->RemoteDirList->item(i)->text());
    return names;
}

QStringList GridNames()
{
    QStringList names;
    for (int r = 0; r < copyform->StringGrid1->RowCount(); ++r)
        names.append(copyform->StringGrid1->Cell(0, r));
    return names;
}

int GridRow(const QString& name)
{
    for (int r = 0; r < copyform->StringGrid1->RowCount(); ++r)
        if (copyform->StringGrid1->Cell(0, r) == name) return r;
    return -1;
}

// Ctrl-clicks the grid rows of the given names.
void ClickGridRows(const QStringList& names)
{
    TRemoteGrid* grid = copyform->StringGrid1;
    grid->clearSelection();
    for (const QString& name : names) {
        const int row = GridRow(name);
        ASSERT_GE(row, 0) << name.toStdString();
        const QModelIndex index = grid->model()->index(row, 0);
        grid->scrollTo(index);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          grid->visualRect(index).center());
    }
}

// Ctrl-clicks the local files of the given names.
void ClickLocalFiles(const QStringList& names)
{
    TFileListBox* list = copyform->FileListBox1;
    list->clearSelection();
    for (const QString& name : names) {
        const QList<QListWidgetItem*> items = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        list->scrollToItem(items.front());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualItemRect(items.front()).center());
    }
}

void ClickRemoteDir(const QString& name)
{
    QListWidget* list = copyform->RemoteDirList;
    const QList<QListWidgetItem*> items = list->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << name.toStdString();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(items.front()).center());
}

void Click(QAbstractButton* button)
{
    ASSERT_TRUE(button->isVisible()) << button->objectName().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList FilesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

class FtpWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = new testsupport::PyFtpServer();
        available_ = testsupport::PyFtpServer::Available() && server_->Start();
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override
    {
        if (!available_) GTEST_SKIP() << "pyftpdlib not available (python3-pyftpdlib)";
        ASSERT_TRUE(local_.isValid());
        cwd_ = QDir::currentPath();
        for (const QString& name : FilesIn(server_->Directory())) {
            const QString path = server_->PathOf(name);
            if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
                QDir(path).removeRecursively();
            else
                QFile::remove(path);
        }
        QFile::remove(SettingsPath());
        Start();
    }
    void TearDown() override
    {
        Stop();
        QDir::setCurrent(cwd_);
    }

    void Start()
    {
        frame_.reset(CreateStartupWindows());
        QApplication::processEvents();
    }
    void Stop()
    {
        if (!frame_) return;
        if (Form1 && Form1->FtpClient1->Connected()) Form1->FtpClient1->Quit();
        for (QMdiSubWindow* sub : frame_->MdiArea()->subWindowList())
            if (auto* ed = qobject_cast<TmyForm1*>(sub->widget())) ed->SetModified(false);
        frame_.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    static QString SettingsPath()
    {
        return platform::IniFile::ResolvePath(
            ftp::SettingsFileNameFor(QCoreApplication::applicationFilePath()));
    }
    static QString Served(const QString& name) { return server_->PathOf(name); }
    QString Local(const QString& name) const { return local_.filePath(name); }

    // Shows the login window through the frame's "FTP" entry and fills it in for a server.
    void FillLogin(const QString& initialDir = QString(), std::uint16_t port = 0)
    {
        frame_->StartFTP1->trigger();
        ASSERT_TRUE(Form1->isVisible());
        SetText(Form1->SiteCB->lineEdit(), QStringLiteral("LOCAL"));
        SetText(Form1->HostNameEdit, QStringLiteral("127.0.0.1"));
        SetText(Form1->PortEdit, QString::number(port ? port : server_->Port()));
        SetText(Form1->InitialLocalDirEdit, local_.path());
        SetText(Form1->InitialDirEdit, initialDir);
        SetText(Form1->UserNameEdit, server_->User());
        SetText(Form1->PasswordEdit, server_->Password());
    }
    // Presses "&Connect"; the whole chain runs inside the click.
    void Connect()
    {
        Click(Form1->ConnectBut);
        ASSERT_TRUE(copyform && copyform->isVisible());
        ASSERT_TRUE(Form1->FtpClient1->Connected());
    }
    void ConnectTo(const QString& initialDir = QString())
    {
        FillLogin(initialDir);
        Connect();
    }
    // Shows the five advanced buttons.
    void AdvancedMenu()
    {
        if (!copyform->AdvMenuCB->isChecked()) Click(copyform->AdvMenuCB);
        ASSERT_TRUE(copyform->AdvMenuCB->isChecked());
    }

    static testsupport::PyFtpServer* server_;
    static bool available_;
    std::unique_ptr<TMyMDI> frame_;
    QTemporaryDir local_;
    QString cwd_;
};

testsupport::PyFtpServer* FtpWindows::server_ = nullptr;
bool FtpWindows::available_ = false;

// ---- Site profiles ------------------------------------------------------------------------------

TEST_F(FtpWindows, LoginWindowAtStartUp)
{
    EXPECT_EQ(Form1->windowTitle(), "FTP Login");
    EXPECT_EQ(Form1->size(), QSize(520, 430));
    EXPECT_EQ(copyform->windowTitle(), "Transfer Files");
    // Wider than the classic 600 pixels: the grid's three columns fit (see below).
    EXPECT_EQ(copyform->size(), QSize(760, 505));
    EXPECT_EQ(Form1->PortEdit->text(), "21");
    EXPECT_TRUE(Form1->SaveProfileCB->isChecked());
    EXPECT_TRUE(Form1->ForceLowerCB->isChecked());
    EXPECT_TRUE(Form1->AutoDirCB->isChecked());
    EXPECT_FALSE(Form1->ViewPending);
    EXPECT_EQ(Form1->Memo1->toPlainText(), "Memo1");
    EXPECT_EQ(Form1->InitialLocalDirEdit->text(), QDir::homePath()) << "the default local dir";
    EXPECT_EQ(Form1->SettingsFileName, "ftp_ui_tests.ini");
    EXPECT_EQ(Form1->FtpClient1->Timeout(), 30);
    EXPECT_TRUE(Form1->FtpClient1->Binary());
    EXPECT_EQ(Form1->FtpClient1->ShareMode(), ftpShareDenyWrite);
    EXPECT_EQ(Form1->FtpClient1->WaitCtrl(), static_cast<TWaitControl*>(Form1->tWait));

    // The transfer window: "Binary", advanced buttons hidden, one empty grid row.
    copyform->show();
    QApplication::processEvents();
    EXPECT_EQ(copyform->RadioGroup1Index(), 0);
    EXPECT_FALSE(copyform->AdvMenuCB->isChecked());
    for (QWidget* w :
         {static_cast<QWidget*>(copyform->RmDirBut), static_cast<QWidget*>(copyform->MkDirBut),
          static_cast<QWidget*>(copyform->ViewBut), static_cast<QWidget*>(copyform->DelRemFileBut),
          static_cast<QWidget*>(copyform->DelLocFileBut)})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
    EXPECT_TRUE(copyform->UploadBut->isVisible());
    EXPECT_EQ(copyform->StringGrid1->RowCount(), 1);
    EXPECT_EQ(copyform->StringGrid1->Cell(0, 0), "");
    const QAbstractItemModel* m = copyform->StringGrid1->model();
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), "File Name");
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), "File Size");
    EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), "Date/Time");
    // The middle column stays in the middle.
    copyform->resize(800, 505);
    QApplication::processEvents();
    EXPECT_EQ(copyform->Panel2->width(), 800 / 2 - 128 / 2 - 4);
    EXPECT_NEAR(copyform->Panel5->geometry().center().x(), 400, 8);
    EXPECT_FALSE(TempDir.isEmpty());
    EXPECT_EQ(QFileInfo(TempDir).permissions() & (QFile::ReadOther | QFile::ReadGroup),
              QFileDevice::Permissions());
}

TEST_F(FtpWindows, ProfileSavedOnConnectAndReadBackWithItsPassword)
{
    ModalAnswerer answerer;
    frame_->StartFTP1->trigger();
    answerer.Expect(TypeText(QStringLiteral("local site")));
    Click(Form1->NewSiteBut);
    EXPECT_EQ(Form1->SiteCB->currentText(), "LOCAL SITE") << "listed in upper case";
    EXPECT_EQ(Form1->InitialLocalDirEdit->text(), QDir::homePath());
    EXPECT_EQ(Form1->PortEdit->text(), "21");

    SetText(Form1->HostNameEdit, QStringLiteral("127.0.0.1"));
    SetText(Form1->PortEdit, QString::number(server_->Port()));
    SetText(Form1->InitialLocalDirEdit, local_.path());
    SetText(Form1->UserNameEdit, server_->User());
    SetText(Form1->PasswordEdit, QStringLiteral("pas"));
    EXPECT_EQ(Form1->PasswordEdit->displayText(), "???");
    Click(Form1->ForceLowerCB);  // off
    // The connect saves the profile (and fails at the password: the box is answered).
    answerer.Expect(ClickButton(QMessageBox::Ok));
    Click(Form1->ConnectBut);
    EXPECT_EQ(answerer.Unexpected(), 0);
    ASSERT_EQ(answerer.Seen().size(), 2u);
    EXPECT_TRUE(answerer.Seen()[1].text.startsWith("Error 530"))
        << answerer.Seen()[1].text.toStdString();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "no busy cursor after a failed connect";

    // Owner-only file; the three-character password as four Base64 characters.
    EXPECT_EQ(QFile::permissions(SettingsPath()) &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFileDevice::Permissions());
    platform::IniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString("LOCAL SITE", "Password", ""), ftp::EncodePassword("pas"));
    EXPECT_EQ(ini.ReadString("LOCAL SITE", "Password", "").size(), 4);
    EXPECT_EQ(ini.ReadString("LOCAL SITE", "Port", ""), QString::number(server_->Port()));
    EXPECT_EQ(ini.ReadString("LOCAL SITE", "ForceLower", ""), "0");

    // The next run reads the list and the last profile back.
    Stop();
    Start();
    EXPECT_EQ(Form1->SiteCB->count(), 1);
    EXPECT_EQ(Form1->SiteCB->currentText(), "LOCAL SITE");
    EXPECT_EQ(Form1->HostNameEdit->text(), "127.0.0.1");
    EXPECT_EQ(Form1->PortEdit->text(), QString::number(server_->Port()));
    EXPECT_EQ(Form1->InitialLocalDirEdit->text(), local_.path());
    EXPECT_EQ(Form1->UserNameEdit->text(), server_->User());
    EXPECT_EQ(Form1->PasswordEdit->text(), "pas");
    EXPECT_FALSE(Form1->ForceLowerCB->isChecked());
}

// A profile typed as "Work", with blanks at the ends of its texts and a password that begins with
// U+FEFF, comes back whole in the next run.
TEST_F(FtpWindows, QuotedProfileNameAndOddFieldsSurviveTheNextRun)
{
    ModalAnswerer answerer;
    frame_->StartFTP1->trigger();
    const QString name = QStringLiteral("\"Work\"");
    const QString user = server_->User() + QStringLiteral("  ");
    const QString password = QStringLiteral("\ufeffpas ");
    SetText(Form1->SiteCB->lineEdit(), name);
    SetText(Form1->HostNameEdit, QStringLiteral("127.0.0.1"));
    SetText(Form1->PortEdit, QString::number(server_->Port()));
    SetText(Form1->InitialLocalDirEdit, local_.path());
    SetText(Form1->InitialDirEdit, QStringLiteral("\" /pub \""));
    SetText(Form1->UserNameEdit, user);
    Form1->PasswordEdit->setText(password);         // pasted: U+FEFF has no key
    answerer.Expect(ClickButton(QMessageBox::Ok));  // the login fails: wrong password
    Click(Form1->ConnectBut);
    EXPECT_EQ(answerer.Unexpected(), 0);

    Stop();
    Start();
    ASSERT_EQ(Form1->SiteCB->count(), 1);
    EXPECT_EQ(Form1->SiteCB->currentText(), name);
    EXPECT_EQ(Form1->HostNameEdit->text(), "127.0.0.1");
    EXPECT_EQ(Form1->InitialLocalDirEdit->text(), local_.path());
    EXPECT_EQ(Form1->InitialDirEdit->text(), "\" /pub \"");
    EXPECT_EQ(Form1->UserNameEdit->text(), user);
    EXPECT_EQ(Form1->PasswordEdit->text(), password);
}

TEST_F(FtpWindows, RepeatedSiteNameInAnotherCaseAlreadyExists)
{
    ModalAnswerer answerer;
    frame_->StartFTP1->trigger();
    Click(Form1->SaveProfileCB);  // nothing written for the new sites
    answerer.Expect(TypeText(QStringLiteral("alpha")));
    Click(Form1->NewSiteBut);
    answerer.Expect(TypeText(QStringLiteral("beta")));
    Click(Form1->NewSiteBut);
    ASSERT_EQ(Form1->SiteCB->count(), 2);
    EXPECT_EQ(Form1->SiteCB->itemText(0), "ALPHA");
    EXPECT_EQ(Form1->SiteCB->currentText(), "BETA");

    answerer.Expect(TypeText(QStringLiteral("Alpha")));
    answerer.Expect(ClickButton(QMessageBox::Ok));
    Click(Form1->NewSiteBut);
    ASSERT_EQ(answerer.Seen().size(), 4u);
    EXPECT_EQ(answerer.Seen()[3].text, "Alpha already exists") << "the answer as typed";
    EXPECT_EQ(Form1->SiteCB->currentText(), "ALPHA") << "the existing entry is selected";
    EXPECT_EQ(Form1->SiteCB->count(), 2);

    // An empty answer does nothing; a name that cannot be a section is refused.
    answerer.Expect(TypeText(QString()));
    Click(Form1->NewSiteBut);
    answerer.Expect(TypeText(QStringLiteral("a]b")));
    answerer.Expect(ClickButton(QMessageBox::Ok));
    Click(Form1->NewSiteBut);
    EXPECT_EQ(Form1->SiteCB->count(), 2);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(FtpWindows, ProfilesRenumberedAlphabeticallyAtTheEnd)
{
    Stop();
    {
        platform::IniFile ini(SettingsPath());
        ini.WriteString("Profiles", "Name0", "ZED");
        ini.WriteString("Profiles", "Name1", "alpha");
        ini.WriteString("Profiles", "Name2", "MID");
        ini.WriteInteger("LastUsed", "Profile", 0);
        ini.WriteString("ZED", "HostName", "zed.example");
        ini.WriteString("alpha", "HostName", "alpha.example");
    }
    Start();
    EXPECT_EQ(Form1->SiteCB->currentText(), "ZED");
    EXPECT_EQ(Form1->HostNameEdit->text(), "zed.example");
    // Choosing another profile reads it.
    QTest::keyClick(Form1->SiteCB, Qt::Key_Down);
    EXPECT_EQ(Form1->SiteCB->currentText(), "alpha");
    EXPECT_EQ(Form1->HostNameEdit->text(), "alpha.example");
    Form1->SiteCB->setCurrentIndex(0);
    Stop();

    platform::IniFile ini(SettingsPath());
    EXPECT_EQ(ini.ReadString("Profiles", "Name0", ""), "alpha");
    EXPECT_EQ(ini.ReadString("Profiles", "Name1", ""), "MID");
    EXPECT_EQ(ini.ReadString("Profiles", "Name2", ""), "ZED");
    EXPECT_FALSE(ini.ValueExists("Profiles", "Name3"));
    EXPECT_EQ(ini.ReadInteger("LastUsed", "Profile", -1), 2) << "ZED's sorted position";
    EXPECT_EQ(ini.ReadString("alpha", "HostName", ""), "alpha.example");
}

TEST_F(FtpWindows, LocalSideFollowsTheDirectoryList)
{
    ASSERT_TRUE(QDir(local_.path()).mkpath("sub/deeper"));
    ASSERT_TRUE(WriteFile(Local("sub/inside.txt"), "x"));
    ASSERT_TRUE(WriteFile(Local("sub/.hidden"), "h"));
    copyform->show();
    TDirectoryListBox* dirs = copyform->DirectoryListBox1;
    ASSERT_TRUE(dirs->SetDirectory(local_.path()));
    QApplication::processEvents();
    const QList<QListWidgetItem*> sub = dirs->findItems("sub", Qt::MatchEndsWith);
    ASSERT_EQ(sub.size(), 1);
    dirs->scrollToItem(sub.front());
    const QPoint at = dirs->visualItemRect(sub.front()).center();
    // A double click: QTest sends its first press and release apart.
    QTest::mouseClick(dirs->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(dirs->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(dirs->Directory(), QDir::cleanPath(local_.path() + "/sub"));
    EXPECT_EQ(copyform->FileListBox1->Directory(), dirs->Directory());
    QStringList files;
    for (int i = 0; i < copyform->FileListBox1->count(); ++i)
        files.append(copyform->FileListBox1->item(i)->text());
    EXPECT_EQ(files, (QStringList{".hidden", "inside.txt"})) << "hidden files are listed";
    // The path from the root down, then the subdirectories; the parent is one entry up.
    EXPECT_EQ(dirs->item(0)->text(), "/");
    EXPECT_TRUE(dirs->item(dirs->count() - 1)->text().endsWith("deeper"));
    dirs->setCurrentRow(dirs->currentRow() - 1);
    QTest::keyClick(dirs, Qt::Key_Return);
    EXPECT_EQ(dirs->Directory(), QDir::cleanPath(local_.path()));
    EXPECT_FALSE(dirs->SetDirectory(local_.filePath("none"))) << "a missing directory";
    EXPECT_EQ(dirs->Directory(), QDir::cleanPath(local_.path()));
}

// ---- Connect ------------------------------------------------------------------------------------

TEST_F(FtpWindows, ConnectWithoutInitialDirectoryListsTheRoot)
{
    ModalAnswerer answerer;
    ASSERT_TRUE(WriteFile(Served("a.txt"), "abc"));
    ConnectTo();
    EXPECT_EQ(answerer.Seen().size(), 0u);

    const QStringList log = Lines(Form1->Memo1);
    EXPECT_EQ(log.first(), "Connecting to 127.0.0.1 ...");
    EXPECT_EQ(DoneLines(Form1->Memo1), (QStringList{Done("ConnectAsync"), Done("PwdAsync"),
                                                    Done("TypeSetAsync"), Done("DirAsync")}));
    EXPECT_EQ(Lines(copyform->Memo1), log) << "both logs show the same lines";
    EXPECT_TRUE(log.contains("Connected"));
    EXPECT_TRUE(log.contains("> USER user"));
    EXPECT_TRUE(log.contains("> PASS ????"));
    for (const QString& line : log)
        EXPECT_FALSE(line.contains("PASS pass")) << line.toStdString();
    EXPECT_TRUE(log.contains("> TYPE A"));
    EXPECT_TRUE(log.contains("> LIST"));

    EXPECT_EQ(copyform->windowTitle(), "Transfer Files to/from:  127.0.0.1");
    EXPECT_EQ(copyform->RemoteDirEdit->text(), "/");
    EXPECT_EQ(RemoteDirs(), QStringList()) << "no <up one dir> at the root";
    EXPECT_EQ(GridNames(), QStringList{"a.txt"});
    EXPECT_EQ(QDir::currentPath(), QFileInfo(local_.path()).canonicalFilePath());
    EXPECT_EQ(copyform->DirectoryListBox1->Directory(), QDir::currentPath());
    EXPECT_FALSE(QFileInfo::exists(TempDir + "ftpdir.txt")) << "the listing file is deleted";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FtpWindows, ConnectWithInitialDirectoryChangesThere)
{
    ASSERT_TRUE(QDir(server_->Directory()).mkpath("sub/deeper"));
    ASSERT_TRUE(WriteFile(Served("sub/in sub.txt"), Pattern(100)));
    ConnectTo(QStringLiteral("sub"));
    EXPECT_EQ(DoneLines(Form1->Memo1),
              (QStringList{Done("ConnectAsync"), Done("CwdAsync"), Done("PwdAsync"),
                           Done("TypeSetAsync"), Done("DirAsync")}));
    EXPECT_EQ(copyform->RemoteDirEdit->text(), "/sub");
    EXPECT_EQ(RemoteDirs(), (QStringList{"<up one dir>", "deeper"}));
    EXPECT_EQ(GridNames(), QStringList{"in sub.txt"});
    EXPECT_EQ(copyform->StringGrid1->Cell(1, 0), "100");

    // Connecting again while connected quits the first session first.
    Click(Form1->ConnectBut);
    EXPECT_EQ(DoneLines(Form1->Memo1).first(), Done("ConnectAsync"));
    EXPECT_TRUE(Form1->FtpClient1->Connected());
}

TEST_F(FtpWindows, ConnectThatCannotStartSaysSo)
{
    FillLogin();
    Form1->HostNameEdit->clear();
    Click(Form1->ConnectBut);
    EXPECT_TRUE(DoneLines(Form1->Memo1).isEmpty());
    EXPECT_TRUE(Lines(Form1->Memo1).last().startsWith("! Connect was not started"));
    EXPECT_FALSE(Form1->FtpClient1->Connected());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FtpWindows, ListingFillsTheGridAndTheDirectoryList)
{
    const QDir d(server_->Directory());
    ASSERT_TRUE(d.mkdir("src"));
    ASSERT_TRUE(WriteFile(Served("my file.txt"), Pattern(1234)));
    ASSERT_TRUE(WriteFile(Served("libc.so.6"), "lib"));
    ASSERT_EQ(::symlink("libc.so.6", QFile::encodeName(Served("libc.so")).constData()), 0);
    ASSERT_EQ(::symlink("src", QFile::encodeName(Served("bin")).constData()), 0);
    ConnectTo();
    EXPECT_EQ(RemoteDirs(), (QStringList{"bin", "src"}));
    QStringList names = GridNames();
    names.sort();
    EXPECT_EQ(names, (QStringList{"libc.so -> libc.so.6", "libc.so.6", "my file.txt"}));
    const int row = GridRow("my file.txt");
    EXPECT_EQ(copyform->StringGrid1->Cell(1, row), "1234");
    EXPECT_EQ(copyform->StringGrid1->Cell(2, row).count(u' '), 2);
}

// The grid fits its data: at the default width all three columns are in view, sizes of up to 13
// digits are shown whole, the name column takes what the window gains, and the user can still
// resize the columns.
TEST_F(FtpWindows, GridColumnsFitTheListingAndFollowTheWindow)
{
    ASSERT_TRUE(WriteFile(Served("a-rather-long-file-name-for-the-name-column.txt"), "x"));
    ASSERT_TRUE(WriteFile(Served("small"), "y"));
    {
        QFile image(Served("disk.img"));  // sparse: a size of thirteen digits
        ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.resize(1234567890123LL));
    }
    ConnectTo();
    TRemoteGrid* grid = copyform->StringGrid1;
    ASSERT_EQ(copyform->size(), QSize(760, 505));
    QApplication::processEvents();
    const int view = grid->viewport()->width();
    const auto right = [&](int column) {
        return grid->columnViewportPosition(column) + grid->columnWidth(column);
    };
    EXPECT_LE(right(2), view) << "the date column is in view";
    EXPECT_EQ(right(2), view) << "the columns fill the grid";
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
    const int row = GridRow("disk.img");
    ASSERT_GE(row, 0);
    ASSERT_EQ(grid->Cell(1, row), "1234567890123");
    const QRect cell = grid->visualRect(grid->model()->index(row, 1));
    const QString shown =
        grid->fontMetrics().elidedText(grid->Cell(1, row), Qt::ElideRight, cell.width() - 6);
    EXPECT_EQ(shown, grid->Cell(1, row)) << "the size is not elided";
    const QString date = grid->Cell(2, row);
    EXPECT_EQ(grid->fontMetrics().elidedText(
                  date, Qt::ElideRight, grid->visualRect(grid->model()->index(row, 2)).width() - 6),
              date);

    // The window grows: the name column takes the width, the others keep theirs.
    const int name = grid->columnWidth(0), size = grid->columnWidth(1),
              dates = grid->columnWidth(2);
    copyform->resize(1000, 505);
    QApplication::processEvents();
    const int gained = grid->viewport()->width() - view;
    EXPECT_GT(gained, 100) << "the remote pane follows the window";
    EXPECT_EQ(grid->columnWidth(0), name + gained);
    EXPECT_EQ(grid->columnWidth(1), size);
    EXPECT_EQ(grid->columnWidth(2), dates);

    // The user drags the border between the size and date headers.
    QHeaderView* header = grid->horizontalHeader();
    const int border = header->sectionViewportPosition(1) + header->sectionSize(1) - 1;
    const int y = header->height() / 2;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(border, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(border + 40, y),
                     header->viewport()->mapToGlobal(QPointF(border + 40, y)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(header->viewport(), &move);
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(border + 40, y));
    EXPECT_EQ(grid->columnWidth(1), size + 40);
}

TEST_F(FtpWindows, ProxyGetsTheRealHostInTheUserNameOnItsOwnPort)
{
    // The "proxy" is the local server, which knows the user "user@ftp.invalid"; the host named in
    // "Hostname" does not resolve, so contacting it would fail.
    testsupport::PyFtpServer proxy(QStringLiteral("user@ftp.invalid"), QStringLiteral("pw"));
    ASSERT_TRUE(proxy.Start()) << proxy.Error().toStdString();
    frame_->StartFTP1->trigger();
    SetText(Form1->SiteCB->lineEdit(), QStringLiteral("VIA PROXY"));
    SetText(Form1->HostNameEdit, QStringLiteral("ftp.invalid"));
    SetText(Form1->PortEdit, QStringLiteral("1"));
    SetText(Form1->InitialLocalDirEdit, local_.path());
    SetText(Form1->UserNameEdit, QStringLiteral("user"));
    SetText(Form1->PasswordEdit, QStringLiteral("pw"));
    Click(Form1->ChkProxy);
    SetText(Form1->TxtProxyName, QStringLiteral("127.0.0.1"));
    SetText(Form1->TxtProxyPort, QString::number(proxy.Port()));
    Connect();
    EXPECT_TRUE(Lines(Form1->Memo1).contains("> USER user@ftp.invalid"));
    EXPECT_EQ(Form1->FtpClient1->HostName(), "127.0.0.1");
    EXPECT_EQ(Form1->FtpClient1->Port(), std::to_string(proxy.Port()));
    Form1->FtpClient1->Quit();
    proxy.Stop();
}

TEST_F(FtpWindows, FtpEntryShowsTheTransferWindowWhileConnected)
{
    ConnectTo();
    copyform->hide();
    Form1->hide();
    frame_->StartFTP1->trigger();
    EXPECT_TRUE(copyform->isVisible());
    EXPECT_FALSE(Form1->isVisible());

    // "&Close" quits and hides both windows; "FTP" then brings the login window back.
    Click(copyform->CancelBut);
    EXPECT_FALSE(copyform->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    ASSERT_TRUE(
        testsupport::ProcessEventsUntil([] { return !Form1->FtpClient1->Connected(); }, 5000));
    EXPECT_TRUE(Lines(Form1->Memo1).contains("Disconnected"));
    frame_->StartFTP1->trigger();
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(copyform->isVisible());

    // "&Exit" without a session hides the login window; nothing is asked.
    Click(Form1->ExitBut);
    EXPECT_FALSE(Form1->isVisible());
    frame_->StartFTP1->trigger();
    EXPECT_TRUE(Form1->isVisible());

    // The editor's Internet > "FTP" follows the same rule.
    ASSERT_FALSE(myForm1.isNull());
    emit myForm1->Internet1->aboutToShow();
    ASSERT_TRUE(myForm1->StartFTP1->isEnabled());
    Form1->hide();
    myForm1->StartFTP1->trigger();
    EXPECT_TRUE(Form1->isVisible());
}

TEST_F(FtpWindows, ConnectCreatesATransferWindowWhenThereIsNone)
{
    delete copyform.data();
    ASSERT_TRUE(copyform.isNull());
    ConnectTo();
    ASSERT_FALSE(copyform.isNull());
    EXPECT_EQ(frame_->FindWindowByName("copyform"), copyform.data());
    EXPECT_EQ(copyform->parentWidget(), frame_.get());
    EXPECT_EQ(copyform->RemoteDirEdit->text(), "/");
    EXPECT_EQ(DoneLines(copyform->Memo1).size(), 4);
}

// ---- Transfers ----------------------------------------------------------------------------------

TEST_F(FtpWindows, PassiveModeTickedListsAndTransfersAndIsStoredWithTheProfile)
{
    const std::string down = Pattern(300000, 6);
    const std::string up = Pattern(70000, 8);
    ASSERT_TRUE(WriteFile(Served("down.bin"), down));
    ASSERT_TRUE(WriteFile(Local("up.bin"), up));
    FillLogin();
    EXPECT_FALSE(Form1->PassiveCB->isChecked());
    EXPECT_EQ(Form1->PassiveCB->text(), "Passive Mode");
    EXPECT_EQ(Form1->size(), QSize(520, 430)) << "the check box fits the window as it is shown";
    Click(Form1->PassiveCB);
    Connect();
    EXPECT_EQ(GridNames(), QStringList{"down.bin"});
    ClickGridRows({"down.bin"});
    Click(copyform->DownloadBut);
    EXPECT_TRUE(ReadFile(Local("down.bin")) == down);
    ClickLocalFiles({"up.bin"});
    Click(copyform->UploadBut);
    EXPECT_TRUE(ReadFile(Served("up.bin")) == up);
    const QStringList log = Lines(Form1->Memo1);
    int passive = 0;
    for (const QString& line : log) {
        EXPECT_FALSE(line.startsWith("> PORT")) << line.toStdString();
        if (line.startsWith("! Passive: connecting to 127.0.0.1 port ")) ++passive;
    }
    EXPECT_EQ(passive, 4) << "listing, download, upload, listing again";
    EXPECT_EQ(log.count("> EPSV"), 4);
    EXPECT_EQ(platform::IniFile(SettingsPath()).ReadString("LOCAL", "Passive", ""), "1");

    // The next run reads it back with the profile.
    Stop();
    Start();
    EXPECT_TRUE(Form1->PassiveCB->isChecked());
    EXPECT_TRUE(Form1->FtpClient1->Passive());
}

// "Use TLS" against pyftpdlib's TLS handler: the self-signed certificate is not trusted (No:
// nothing stored), then trusted for the profile (Yes: stored, the connect and its listing work),
// and a server with another certificate is refused with both fingerprints named.
TEST_F(FtpWindows, UseTlsAsksToTrustTheCertificateAndRefusesAnotherOne)
{
    if (!testsupport::PyFtpServer::TlsAvailable())
        GTEST_SKIP() << "pyftpdlib with TLS not available (python3-openssl, openssl)";
    testsupport::PyFtpServer tls;
    tls.SetTls(true);
    ASSERT_TRUE(tls.Start()) << tls.Error().toStdString();
    const QString first = tls.CertificateFingerprint();
    ASSERT_TRUE(WriteFile(tls.PathOf(QStringLiteral("secret.txt")), "over TLS"));

    ModalAnswerer answerer;
    FillLogin(QString(), tls.Port());
    EXPECT_EQ(Form1->TlsCB->text(), "Use TLS (explicit FTPS)");
    EXPECT_FALSE(Form1->TlsCB->isChecked());
    EXPECT_EQ(Form1->size(), QSize(520, 430)) << "the check box fits the window as it is shown";
    Click(Form1->TlsCB);

    answerer.Expect(ClickButton(QMessageBox::No));
    Click(Form1->ConnectBut);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    const QString question = answerer.Seen()[0].text;
    for (const QString& part :
         {QStringLiteral("SHA-256 fingerprint: ") + first, QStringLiteral("Subject: CN=localhost"),
          QStringLiteral("Issuer: CN=localhost"), QStringLiteral("Valid from "),
          QStringLiteral("Reason: "), QStringLiteral("Trust this certificate for the profile")})
        EXPECT_TRUE(question.contains(part)) << part.toStdString() << " in "
                                             << question.toStdString();
    EXPECT_FALSE(Form1->FtpClient1->Connected());
    EXPECT_TRUE(Lines(Form1->Memo1)
                    .contains(QStringLiteral("! The certificate ") + first +
                              QStringLiteral(" was not trusted: nothing stored")));
    EXPECT_EQ(platform::IniFile(SettingsPath()).ReadString("LOCAL", "Tls", ""), "1");
    EXPECT_EQ(platform::IniFile(SettingsPath()).ReadString("LOCAL", "TlsFingerprint", "-"), "");

    answerer.Expect(ClickButton(QMessageBox::Yes));
    Click(Form1->ConnectBut);
    EXPECT_EQ(answerer.Seen().size(), 2u);
    ASSERT_TRUE(Form1->FtpClient1->Connected());
    EXPECT_TRUE(Form1->FtpClient1->TlsActive());
    EXPECT_EQ(GridNames(), QStringList{"secret.txt"});
    EXPECT_EQ(platform::IniFile(SettingsPath()).ReadString("LOCAL", "TlsFingerprint", ""), first);
    EXPECT_EQ(Form1->TlsFingerprint, first);
    const QStringList log = Lines(Form1->Memo1);
    EXPECT_TRUE(log.contains(QStringLiteral("> PROT P")));
    EXPECT_FALSE(log.filter(QStringLiteral("! TLS: TLSv1.")).isEmpty());
    EXPECT_TRUE(Form1->FtpClient1->Quit());

    // Passive mode with the stored fingerprint: no question, the listing comes over TLS.
    Click(Form1->PassiveCB);
    Form1->Memo1->clear();
    Click(Form1->ConnectBut);
    EXPECT_EQ(answerer.Seen().size(), 2u);
    ASSERT_TRUE(Form1->FtpClient1->Connected());
    EXPECT_TRUE(Form1->FtpClient1->TlsActive());
    EXPECT_EQ(GridNames(), QStringList{"secret.txt"});
    EXPECT_TRUE(Lines(Form1->Memo1).contains(QStringLiteral("> EPSV")));
    EXPECT_TRUE(Form1->FtpClient1->Quit());
    Click(Form1->PassiveCB);

    // The same profile, another certificate: refused, both fingerprints named; nothing changes.
    ASSERT_TRUE(tls.Start(tls.Directory()));
    const QString second = tls.CertificateFingerprint();
    ASSERT_NE(second, first);
    SetText(Form1->PortEdit, QString::number(tls.Port()));
    answerer.Expect(ClickButton(QMessageBox::No));
    Click(Form1->ConnectBut);
    ASSERT_EQ(answerer.Seen().size(), 3u);
    EXPECT_TRUE(answerer.Seen()[2].text.contains(QStringLiteral("expected ") + first +
                                                 QStringLiteral(", presented ") + second))
        << answerer.Seen()[2].text.toStdString();
    EXPECT_FALSE(Form1->FtpClient1->Connected());
    EXPECT_EQ(platform::IniFile(SettingsPath()).ReadString("LOCAL", "TlsFingerprint", ""), first);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(FtpWindows, ActiveTransferThatTheServerCannotConnectSuggestsPassiveMode)
{
    ScriptServer server([](ScriptSession& s) {
        Login(s);
        s.Expect("PWD");
        s.Send("257 \"/\"\r\n");
        s.Expect("TYPE A");
        s.Send("200 ok\r\n");
        s.ExpectPort();
        s.Expect("LIST");
        s.Send("425 Can't open data connection.\r\n");
        s.Expect("QUIT");
        s.Send("221 Bye\r\n");
        s.ClientClosed(5000);
    });
    ModalAnswerer answerer;
    answerer.Expect(ClickButton(QMessageBox::Ok));
    FillLogin(QString(), server.Port());
    Connect();
    EXPECT_EQ(answerer.Unexpected(), 0);
    const QStringList log = Lines(Form1->Memo1);
    const qsizetype done = log.indexOf(Done("DirAsync", 425));
    ASSERT_GE(done, 0);
    ASSERT_LT(done + 1, log.size());
    EXPECT_EQ(log[done + 1],
              "! The server could not open the data connection to this computer (active mode): "
              "tick \"Passive Mode\" and try again");
    EXPECT_EQ(log.filter("Passive Mode").size(), 1);
    EXPECT_TRUE(Form1->FtpClient1->Quit());
    ASSERT_TRUE(server.WaitFinished());
    EXPECT_TRUE(server.Failures().empty());
}

TEST_F(FtpWindows, DownloadOfTwoSelectedFilesIsByteExact)
{
    // Bytes that a text transfer would change (CR LF, NUL, high bytes) and an upper-case name.
    const std::string one = Pattern(300000, 1) + "\r\n\n\r";
    const std::string two = Pattern(777, 2);
    ASSERT_TRUE(WriteFile(Served("one.bin"), one));
    ASSERT_TRUE(WriteFile(Served("TWO.BIN"), two));
    ASSERT_TRUE(WriteFile(Served("other.bin"), "not selected"));
    ConnectTo();
    ClickGridRows({"one.bin", "TWO.BIN"});
    Click(copyform->DownloadBut);

    EXPECT_EQ(ReadFile(Local("one.bin")), one);
    EXPECT_EQ(ReadFile(Local("two.bin")), two) << "names lower-cased with Force Lowercase";
    EXPECT_EQ(FilesIn(local_.path()), (QStringList{"one.bin", "two.bin"})) << "nothing else";
    QStringList shown;
    for (int i = 0; i < copyform->FileListBox1->count(); ++i)
        shown.append(copyform->FileListBox1->item(i)->text());
    EXPECT_EQ(shown, (QStringList{"one.bin", "two.bin"})) << "the local list is read again";
    const QStringList log = Lines(Form1->Memo1);
    // The queue is worked from its last entry (the lowest selected row) to its first.
    const qsizetype upper = log.indexOf("get TWO.BIN " + Local("two.bin"));
    const qsizetype lower = log.indexOf("get one.bin " + Local("one.bin"));
    EXPECT_GE(upper, 0);
    EXPECT_GE(lower, 0);
    EXPECT_LT(lower, upper);
    EXPECT_TRUE(log.contains("> TYPE I"));
    EXPECT_EQ(DoneLines(Form1->Memo1).mid(4),
              (QStringList{Done("TypeSetAsync"), Done("GetAsync"), Done("GetAsync")}));
    const QString progress = copyform->Label4->text();
    EXPECT_TRUE(progress.endsWith(" bytes sent")) << progress.toStdString();
    EXPECT_GT(progress.section(u' ', 0, 0).toLongLong(), 0);
}

TEST_F(FtpWindows, TextDownloadAndAFailedDownloadKeepsTheLocalFile)
{
    ModalAnswerer answerer;
    ASSERT_TRUE(WriteFile(Served("lines.txt"), "a\r\nb\r\n"));
    ASSERT_TRUE(WriteFile(Local("missing.txt"), "precious"));
    ConnectTo();
    Click(copyform->TextItem);
    // Without "Directory Listings" the names are asked for.
    Click(Form1->AutoDirCB);
    answerer.Expect(TypeText(QStringLiteral("lines.txt")));
    Click(copyform->DownloadBut);
    EXPECT_TRUE(Lines(Form1->Memo1).contains("> TYPE A"));
    EXPECT_EQ(ReadFile(Local("lines.txt")).substr(0, 1), "a");

    answerer.Expect(TypeText(QStringLiteral("missing.txt")));
    answerer.Expect(ClickButton(QMessageBox::Ok));
    Click(copyform->DownloadBut);
    ASSERT_EQ(answerer.Seen().size(), 3u);
    EXPECT_TRUE(answerer.Seen()[2].text.startsWith("Error 550"))
        << answerer.Seen()[2].text.toStdString();
    EXPECT_EQ(ReadFile(Local("missing.txt")), "precious");
    EXPECT_EQ(FilesIn(local_.path()), (QStringList{"lines.txt", "missing.txt"}));
    EXPECT_TRUE(DoneLines(Form1->Memo1).contains(Done("GetAsync", 550)));

    // A cancelled input box ends the click.
    answerer.Expect(testsupport::Cancel());
    const int lines = Form1->Memo1->blockCount();
    Click(copyform->DownloadBut);
    EXPECT_EQ(Form1->Memo1->blockCount(), lines);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

// Progress and Cancel, against a server that sends 256 KB a second: a listing shows bytes and
// rate without a bar; a download shows its percentage (the size from the listing), bytes, rate
// and time left, brought up to date at most about ten times a second; Cancel, clicked while the
// wait control swallows every other click, aborts the download and drops the rest of the queue,
// the log says so, no error box comes and no partial file stays.
TEST_F(FtpWindows, ProgressOfATransferAndCancel)
{
    testsupport::PyFtpServer slow;
    slow.SetRateLimit(256 * 1024);
    ASSERT_TRUE(slow.Start()) << slow.Error().toStdString();
    const std::string small = Pattern(60000, 5);
    ASSERT_TRUE(WriteFile(slow.PathOf("a.bin"), small));
    ASSERT_TRUE(WriteFile(slow.PathOf("b.bin"), Pattern(1536 * 1024, 6)));
    ASSERT_TRUE(WriteFile(slow.PathOf("c.bin"), small));
    ModalAnswerer answerer;
    FillLogin(QString(), slow.Port());
    Connect();
    EXPECT_TRUE(copyform->ProgressLabel->text().contains(" bytes in ") &&
                copyform->ProgressLabel->text().endsWith("/s (listing)"))
        << copyform->ProgressLabel->text().toStdString();
    EXPECT_LT(copyform->ProgressBar1->value(), 0) << "no size, no bar";
    EXPECT_FALSE(copyform->CancelTransferBut->isEnabled());

    // The queue is worked from its last name: c.bin, then b.bin (cancelled), a.bin never.
    ClickGridRows({"a.bin", "b.bin", "c.bin"});
    QStringList texts;  // what the progress row showed while b.bin came in
    QElapsedTimer sinceFirst;
    QString seen;
    int percent = -1;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString text = copyform->ProgressLabel->text();
        if (!copyform->ProgressRunning() || !text.endsWith(" (get b.bin)")) return;
        if (texts.isEmpty()) sinceFirst.start();
        if (texts.isEmpty() || texts.back() != text) texts.append(text);
        if (percent < 0 && copyform->ProgressBar1->value() >= 30 && sinceFirst.elapsed() > 1000) {
            percent = copyform->ProgressBar1->value();
            seen = text;
            QTest::mouseClick(copyform->CancelTransferBut, Qt::LeftButton);
        }
    });
    watch.start();
    Click(copyform->DownloadBut);
    watch.stop();

    ASSERT_GE(percent, 30) << "Cancel was not clicked during the download";
    EXPECT_LT(percent, 100);
    EXPECT_TRUE(seen.contains(" of 1,572,864 bytes, ")) << seen.toStdString();
    EXPECT_TRUE(seen.contains(" KB/s, ") && seen.endsWith(" left (get b.bin)"))
        << seen.toStdString();
    // At most about ten updates a second (and more than one).
    EXPECT_GE(texts.size(), 3) << texts.join(" / ").toStdString();
    EXPECT_LE(texts.size(), 11 * (sinceFirst.elapsed() / 1000 + 1)) << texts.size();
    EXPECT_TRUE(DoneLines(Form1->Memo1).contains(Done("GetAsync", 426)));

    EXPECT_EQ(FilesIn(local_.path()), (QStringList{"c.bin"})) << "no partial file, no a.bin";
    EXPECT_EQ(ReadFile(Local("c.bin")), small);
    EXPECT_TRUE(Lines(Form1->Memo1)
                    .contains("! Cancelled: the transfer is aborted and the session closed; 1 more "
                              "file of the queue not transferred"));
    EXPECT_FALSE(Lines(Form1->Memo1).contains("get a.bin " + Local("a.bin")));
    EXPECT_EQ(answerer.Unexpected(), 0) << "no error box for a cancelled transfer";
    EXPECT_FALSE(copyform->CancelTransferBut->isEnabled());
    EXPECT_TRUE(copyform->ProgressLabel->text().startsWith("stopped after "));
    EXPECT_TRUE(copyform->ProgressLabel->text().endsWith(" (get b.bin)"));
    EXPECT_FALSE(Form1->FtpClient1->Connected());
    slow.Stop();
}

TEST_F(FtpWindows, UploadOfTwoLocalFiles)
{
    const std::string first = Pattern(50000, 3) + "\r\n";
    const std::string second = Pattern(12, 4);
    ASSERT_TRUE(WriteFile(Local("up1.dat"), first));
    ASSERT_TRUE(WriteFile(Local("UP2.DAT"), second));
    ASSERT_TRUE(WriteFile(Local("stay.dat"), "x"));
    ConnectTo();
    ClickLocalFiles({"UP2.DAT", "up1.dat"});
    Click(copyform->UploadBut);
    EXPECT_EQ(ReadFile(Served("up1.dat")), first);
    EXPECT_EQ(ReadFile(Served("up2.dat")), second) << "lower-cased on the server";
    EXPECT_FALSE(QFileInfo::exists(Served("stay.dat")));
    EXPECT_TRUE(copyform->FileListBox1->selectedItems().isEmpty()) << "uploaded entries deselected";
    QStringList names = GridNames();
    names.sort();
    EXPECT_EQ(names, (QStringList{"up1.dat", "up2.dat"})) << "the listing is read again";
    EXPECT_TRUE(Lines(Form1->Memo1).contains("put " + Local("UP2.DAT") + " up2.dat"));

    // "Select All Files" selects every local file.
    Click(copyform->SelectAllBut);
    EXPECT_EQ(copyform->FileListBox1->selectedItems().size(), 3);
    copyform->FileListBox1->clearSelection();

    // With nothing selected only the TYPE command goes.
    const int done = DoneLines(Form1->Memo1).size();
    Click(copyform->UploadBut);
    EXPECT_EQ(DoneLines(Form1->Memo1).mid(done), QStringList{Done("TypeSetAsync")});
}

TEST_F(FtpWindows, RemoteAndLocalDelete)
{
    ASSERT_TRUE(WriteFile(Served("gone1.txt"), "1"));
    ASSERT_TRUE(WriteFile(Served("gone2.txt"), "2"));
    ASSERT_TRUE(WriteFile(Served("kept.txt"), "3"));
    ASSERT_TRUE(WriteFile(Local("local1.txt"), "1"));
    ASSERT_TRUE(WriteFile(Local("local2.txt"), "2"));
    ConnectTo();
    AdvancedMenu();
    ClickGridRows({"gone1.txt", "gone2.txt"});
    Click(copyform->DelRemFileBut);
    EXPECT_FALSE(QFileInfo::exists(Served("gone1.txt")));
    EXPECT_FALSE(QFileInfo::exists(Served("gone2.txt")));
    EXPECT_TRUE(QFileInfo::exists(Served("kept.txt")));
    EXPECT_EQ(GridNames(), QStringList{"kept.txt"});
    EXPECT_TRUE(Lines(Form1->Memo1).contains("> DELE gone2.txt"));

    ClickLocalFiles({"local2.txt"});
    Click(copyform->DelLocFileBut);
    EXPECT_EQ(FilesIn(local_.path()), QStringList{"local1.txt"});
    EXPECT_EQ(copyform->FileListBox1->count(), 1);
    EXPECT_TRUE(Lines(Form1->Memo1).contains("Del " + Local("local2.txt")));
}

// ---- Directories --------------------------------------------------------------------------------

TEST_F(FtpWindows, MakeAndRemoveADirectoryThroughTheInputBoxes)
{
    ModalAnswerer answerer;
    ConnectTo();
    AdvancedMenu();
    answerer.Expect(TypeText(QStringLiteral("new dir")));
    Click(copyform->MkDirBut);
    EXPECT_TRUE(QFileInfo(Served("new dir")).isDir());
    EXPECT_EQ(RemoteDirs(), QStringList{"new dir"});
    ASSERT_GE(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, "Create Directory");
    EXPECT_EQ(answerer.Seen()[0].text, "Enter Directory Name");
    EXPECT_TRUE(Lines(Form1->Memo1).contains("mkdir new dir"));

    answerer.Expect(TypeText(QStringLiteral("new dir")));
    Click(copyform->RmDirBut);
    EXPECT_FALSE(QFileInfo::exists(Served("new dir")));
    EXPECT_EQ(RemoteDirs(), QStringList());
    EXPECT_EQ(answerer.Seen()[1].title, "Remove Directory");
    EXPECT_TRUE(Lines(Form1->Memo1).contains("rmdir new dir"));
    const QStringList done = DoneLines(Form1->Memo1);
    EXPECT_TRUE(done.contains(Done("MkdAsync")));
    EXPECT_TRUE(done.contains(Done("RmdAsync")));
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(FtpWindows, ChangeIntoADirectoryAndUpOneDir)
{
    ASSERT_TRUE(QDir(server_->Directory()).mkpath("src/inner"));
    ASSERT_TRUE(WriteFile(Served("src/code.c"), "int x;"));
    ASSERT_TRUE(WriteFile(Served("top.txt"), "top"));
    ConnectTo();
    ClickRemoteDir("src");
    ASSERT_TRUE(testsupport::ProcessEventsUntil(
        [] { return copyform->RemoteDirEdit->text() == "/src"; }, 10000));
    EXPECT_EQ(RemoteDirs(), (QStringList{"<up one dir>", "inner"}));
    EXPECT_EQ(GridNames(), QStringList{"code.c"});
    EXPECT_TRUE(Lines(Form1->Memo1).contains("chdir src"));

    ClickRemoteDir("<up one dir>");
    ASSERT_TRUE(testsupport::ProcessEventsUntil(
        [] { return copyform->RemoteDirEdit->text() == "/"; }, 10000));
    EXPECT_EQ(RemoteDirs(), QStringList{"src"});
    EXPECT_EQ(GridNames(), QStringList{"top.txt"});
    EXPECT_TRUE(Lines(Form1->Memo1).contains("cdup"));
    EXPECT_TRUE(DoneLines(Form1->Memo1).contains(Done("CDupAsync")));

    // "ChgDir ==>" with nothing selected goes to the directory typed above the list.
    SetText(copyform->RemoteDirEdit, QStringLiteral("/src/inner"));
    copyform->RemoteDirList->clearSelection();
    Click(copyform->ChgDirBut);
    EXPECT_EQ(copyform->RemoteDirEdit->text(), "/src/inner");
    EXPECT_EQ(RemoteDirs(), QStringList{"<up one dir>"});
    EXPECT_EQ(copyform->StringGrid1->RowCount(), 1) << "one empty row for an empty directory";
    EXPECT_EQ(copyform->StringGrid1->Cell(0, 0), "");
}

// ---- Viewer -------------------------------------------------------------------------------------

TEST_F(FtpWindows, ViewOpensAnEditorAndLeavesNoCopy)
{
    ASSERT_TRUE(WriteFile(Served("notes.txt"), "first line\r\nsecond\tline\n"));
    ASSERT_TRUE(WriteFile(Served("zz.txt"), "other"));
    ConnectTo();
    AdvancedMenu();
    const int windows = frame_->MdiArea()->subWindowList().size();
    ClickGridRows({"notes.txt", "zz.txt"});
    Click(copyform->ViewBut);

    const QList<QMdiSubWindow*> subs = frame_->MdiArea()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(subs.size(), windows + 1) << "only the top selected row is viewed";
    auto* editor = qobject_cast<TmyForm1*>(subs.back()->widget());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->Caption(), "notes.txt");
    EXPECT_EQ(editor->MEMO1->toPlainText(), "first line\nsecondline\n\n")
        << "three lines, the last empty";
    EXPECT_EQ(editor->StatusText(), "3 Lines read");
    EXPECT_TRUE(editor->CurrentFileName().isEmpty()) << "the path is not recorded";
    EXPECT_FALSE(Form1->ViewPending);
    EXPECT_EQ(FilesIn(TempDir), QStringList()) << "no copy of the viewed file is left";
    EXPECT_EQ(FilesIn(local_.path()), QStringList());
    EXPECT_TRUE(Lines(Form1->Memo1).contains("> TYPE A"));
}

TEST_F(FtpWindows, CancelledViewLeavesNoViewPending)
{
    ModalAnswerer answerer;
    ASSERT_TRUE(WriteFile(Served("plain.txt"), "data"));
    ConnectTo();
    AdvancedMenu();
    Click(Form1->AutoDirCB);
    answerer.Expect(testsupport::Cancel());
    Click(copyform->ViewBut);
    EXPECT_FALSE(Form1->ViewPending);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, "View a File");
    EXPECT_EQ(answerer.Seen()[0].text, "Enter File Name");

    const int windows = frame_->MdiArea()->subWindowList().size();
    answerer.Expect(TypeText(QStringLiteral("plain.txt")));
    Click(copyform->DownloadBut);
    EXPECT_EQ(ReadFile(Local("plain.txt")), "data") << "a normal download";
    EXPECT_EQ(frame_->MdiArea()->subWindowList().size(), windows);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

// ---- Names that must not become local paths -----------------------------------------------------

TEST_F(FtpWindows, SymbolicLinkInTheLocalDirectoryIsNotFollowed)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.txt");
    ASSERT_TRUE(WriteFile(target, "outside"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(),
                        QFile::encodeName(Local("link.txt")).constData()),
              0);
    ASSERT_TRUE(WriteFile(Served("link.txt"), "remote"));
    ASSERT_TRUE(WriteFile(Served("next.txt"), "next"));
    ConnectTo();
    ClickGridRows({"next.txt", "link.txt"});
    Click(copyform->DownloadBut);
    EXPECT_EQ(ReadFile(target), "outside");
    EXPECT_TRUE(QFileInfo(Local("link.txt")).isSymLink());
    EXPECT_EQ(ReadFile(Local("next.txt")), "next") << "the queue goes on";
    bool refused = false;
    for (const QString& line : Lines(Form1->Memo1))
        refused = refused || (line.startsWith("! Download of link.txt refused") &&
                              line.contains("symbolic link"));
    EXPECT_TRUE(refused) << Form1->Memo1->toPlainText().toStdString();
    EXPECT_FALSE(Lines(Form1->Memo1).contains("> RETR link.txt"));
}

// A server that sends a listing of its own making and serves one file, good.txt.
class HostileServer {
public:
    explicit HostileServer(std::string listing)
        : listing_(std::move(listing)), server_([this](ScriptSession& s) { Serve(s); })
    {
    }
    std::uint16_t Port() const { return server_.Port(); }
    std::vector<std::string> Commands() const { return server_.Commands(); }
    std::vector<std::string> Failures() const { return server_.Failures(); }

private:
    void Serve(ScriptSession& s)
    {
        s.Send("220 hostile server ready\r\n");
        std::uint16_t dataPort = 0;
        for (;;) {
            const std::string cmd = s.Read(60000);
            if (cmd.empty()) return;
            auto is = [&cmd](const char* verb) { return cmd.rfind(verb, 0) == 0; };
            if (is("USER")) {
                s.Send("331 password please\r\n");
            } else if (is("PASS")) {
                s.Send("230 logged in\r\n");
            } else if (is("PWD")) {
                s.Send("257 \"/\" is the current directory\r\n");
            } else if (is("TYPE") || is("CWD")) {
                s.Send("200 ok\r\n");
            } else if (is("PORT")) {
                unsigned a[6] = {};
                std::sscanf(cmd.c_str(), "PORT %u,%u,%u,%u,%u,%u", &a[0], &a[1], &a[2], &a[3],
                            &a[4], &a[5]);
                dataPort = static_cast<std::uint16_t>(a[4] * 256 + a[5]);
                s.Send("200 PORT ok\r\n");
            } else if (is("LIST") || cmd == "RETR good.txt") {
                s.Send("150 opening data connection\r\n");
                testsupport::RawFd data = s.ConnectData(dataPort);
                testsupport::SendAll(data, is("LIST") ? listing_ : std::string("good"));
                data.Reset();
                s.Send("226 done\r\n");
            } else if (is("RETR")) {
                s.Send("550 no such file\r\n");
            } else if (is("QUIT")) {
                s.Send("221 bye\r\n");
                return;
            } else {
                s.Send("502 not here\r\n");
            }
        }
    }

    std::string listing_;
    ScriptServer server_;
};

TEST_F(FtpWindows, HostileListingWritesNothingOutsideTheLocalDirectory)
{
    // Local directory three levels down in a tree of the test's own, so that "../" names would
    // land in the levels above.
    QTemporaryDir tree;
    ASSERT_TRUE(QDir(tree.path()).mkpath("a/b/local"));
    const QString localDir = tree.filePath("a/b/local");
    const std::string passwd = ReadFile("/etc/passwd");
    const std::string longName(65536, 'n');

    std::string listing = "total 100000\r\n";
    auto file = [&listing](const std::string& name) {
        listing += "-rw-r--r--   1 owner group        4 Jan  1  2020 " + name + "\r\n";
    };
    for (const std::string& name :
         {std::string("../escape.txt"), std::string("../../escape2.txt"),
          std::string("/etc/passwd"), std::string(".."), std::string("back\\slash"),
          std::string("ctl\x01name"), longName, std::string("good.txt")})
        file(name);
    listing += "drwxr-xr-x   2 owner group     4096 Jan  1  2020 ../up\r\n";
    listing += "lrwxrwxrwx   1 owner group        4 Jan  1  2020 root -> /\r\n";
    listing += "-rw-r--r-- 1 x\r\n";           // too few fields, shorter than 20
    listing += "only five words in here\r\n";  // too few fields
    char line[96];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(line, sizeof line,
                      "-rw-r--r--   1 owner group   %7d Feb %2d 12:%02d file%06d.dat\r\n", i,
                      1 + i % 28, i % 60, i);
        listing += line;
    }
    HostileServer server(listing);

    FillLogin(QString(), server.Port());
    SetText(Form1->InitialLocalDirEdit, localDir);
    QElapsedTimer connectTime;
    connectTime.start();
    Connect();
    const qint64 connectMs = connectTime.elapsed();
    ASSERT_EQ(copyform->StringGrid1->RowCount(), 100008);
    EXPECT_EQ(RemoteDirs(), (QStringList{"../up", "root"}));
    EXPECT_EQ(copyform->StringGrid1->Cell(0, 100007), "file099999.dat");
    EXPECT_EQ(copyform->StringGrid1->Cell(0, 6).size(), 65536);

    // Every hostile name selected together with the good one: the good one arrives, every other
    // is refused with its own line, and the queue goes on.
    ModalAnswerer answerer;
    ClickGridRows({"../escape.txt", "../../escape2.txt", "/etc/passwd", "..", "back\\slash",
                   QString::fromLatin1("ctl\x01name"), QString::fromStdString(longName),
                   "good.txt"});
    ASSERT_EQ(copyform->StringGrid1->SelectedRows().size(), 8u);
    Click(copyform->DownloadBut);
    EXPECT_EQ(ReadFile(QDir(localDir).filePath("good.txt")), "good");
    EXPECT_EQ(FilesIn(localDir), QStringList{"good.txt"});
    EXPECT_EQ(FilesIn(tree.filePath("a/b")), QStringList{"local"});
    EXPECT_EQ(FilesIn(tree.filePath("a")), QStringList{"b"});
    EXPECT_EQ(FilesIn(tree.path()), QStringList{"a"});
    EXPECT_EQ(ReadFile("/etc/passwd"), passwd);
    int refusals = 0;
    for (const QString& l : Lines(Form1->Memo1))
        if (l.startsWith("! Download of ") && l.contains(" refused: ")) ++refusals;
    EXPECT_EQ(refusals, 7);

    // The viewer refuses them too and leaves nothing pending.
    AdvancedMenu();
    ClickGridRows({"../escape.txt"});
    Click(copyform->ViewBut);
    EXPECT_FALSE(Form1->ViewPending);
    EXPECT_EQ(FilesIn(TempDir), QStringList());
    EXPECT_EQ(answerer.Unexpected(), 0);

    std::vector<std::string> retrs;
    for (const std::string& c : server.Commands())
        if (c.rfind("RETR", 0) == 0) retrs.push_back(c);
    EXPECT_EQ(retrs, std::vector<std::string>{"RETR good.txt"});
    EXPECT_TRUE(server.Failures().empty());

    // The time to fill the window from the listing file alone.
    ASSERT_TRUE(WriteFile(TempDir + "ftpdir.txt", listing));
    QElapsedTimer parseTime;
    parseTime.start();
    copyform->ParseDir();
    const qint64 parseMs = parseTime.elapsed();
    EXPECT_EQ(copyform->StringGrid1->RowCount(), 100008);
    std::printf(
        "[  MEASURE ] listing of %zu bytes, 100,012 lines: connect to filled grid %lld ms, "
        "ParseDir %lld ms\n",
        listing.size(), static_cast<long long>(connectMs), static_cast<long long>(parseMs));
    Form1->FtpClient1->Quit();
}

TEST_F(FtpWindows, LongQueueOfRefusedNamesRunsToItsEnd)
{
    // Every name but the first is refused; the queue is worked from its last entry, so the good
    // file comes last and arrives only when the whole queue has been walked.
    constexpr int kRefused = 50000;
    std::string listing = "-rw-r--r-- 1 owner group 4 Jan 1 2020 good.txt\r\n";
    char line[96];
    for (int i = 0; i < kRefused; ++i) {
        std::snprintf(line, sizeof line, "-rw-r--r-- 1 owner group 4 Jan 1 2020 ../f%05d\r\n", i);
        listing += line;
    }
    HostileServer server(listing);
    FillLogin(QString(), server.Port());
    Connect();
    ASSERT_EQ(copyform->StringGrid1->RowCount(), kRefused + 1);
    QTest::keyClick(copyform->StringGrid1, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(copyform->StringGrid1->SelectedRows().size(), std::size_t(kRefused + 1));
    QElapsedTimer time;
    time.start();
    Click(copyform->DownloadBut);
    const qint64 ms = time.elapsed();
    EXPECT_EQ(ReadFile(Local("good.txt")), "good");
    EXPECT_EQ(FilesIn(local_.path()), QStringList{"good.txt"});
    int refusals = 0;
    for (const QString& l : Lines(copyform->Memo1))
        if (l.startsWith("! Download of ../f")) ++refusals;
    EXPECT_EQ(refusals, kRefused);
    std::printf("[  MEASURE ] %d refused names and one download: %lld ms\n", kRefused,
                static_cast<long long>(ms));
    Form1->FtpClient1->Quit();
}

}  // namespace
