// The telnet terminal window through its real controls: its states and status texts, connect
// errors, options per host, the local-echo switch, and whole sessions with a real telnet server
// (inetutils telnetd behind socat on loopback), one window and two at once.
#include "TerminalTestUtil.h"

#include "net/WSocket.h"
#include "peers/TelnetdPeer.h"
#include "platform/IniFile.h"
#include "support/Modal.h"
#include "support/RawSocket.h"
#include "terminal/TerminalWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace termtest;
using testsupport::TelnetdPeer;

static auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new IsolatedDirs);

namespace {

class TerminalWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(IsolatedDirs::ConfigDir() + QStringLiteral("/zarvos-tests/TNEMULVT.INI"));
        form = NewWindow();
    }
    void TearDown() override
    {
        for (auto& w : windows)
            delete w.data();
        server.Stop();
    }
    TTelnetForm* NewWindow()
    {
        auto* w = new TTelnetForm;
        windows.append(w);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        return w;
    }
    QString Status(TTelnetForm* w) const { return w->StatusLabel->text(); }
    // Connects a window to the telnet server and waits for the shell's prompt on its screen.
    void ConnectToServer(TTelnetForm* w)
    {
        w->PortEdit->setText(QString::number(server.Port()));
        QTest::mouseClick(w->ConnectButton, Qt::LeftButton);
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return FindLine(w->TnEmulVT1->Screen(), TelnetdPeer::Prompt) >= 0; }, 15000))
            << terminal::DumpScreen(w->TnEmulVT1->Screen()) << server.Log().toStdString();
        EXPECT_EQ(Status(w), QStringLiteral("Connected"));
        EXPECT_FALSE(w->ConnectButton->isEnabled());
        EXPECT_TRUE(w->DisconnectButton->isEnabled());
    }
    // Types a command line into a window's terminal and waits for a line of its output.
    bool RunCommand(TTelnetForm* w, const QString& command, const std::string& outputLine)
    {
        QTest::keyClicks(w->TnEmulVT1, command);
        QTest::keyClick(w->TnEmulVT1, Qt::Key_Return);
        return ProcessEventsUntil([&] { return FindLine(w->TnEmulVT1->Screen(), outputLine) >= 0; },
                                  10000);
    }

    TelnetdPeer server;
    QList<QPointer<TTelnetForm>> windows;
    TTelnetForm* form = nullptr;
};

TEST_F(TerminalWindowTest, StartsIdleWithItsControlsMenuAndTerminal)
{
    EXPECT_EQ(form->objectName(), QStringLiteral("TelnetForm"));
    EXPECT_TRUE(form->windowTitle().isEmpty());
    EXPECT_EQ(form->size(), QSize(599, 403));
    EXPECT_EQ(form->Label1->text(), QStringLiteral("HostName"));
    EXPECT_EQ(form->HostNameEdit->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(form->Label2->text(), QStringLiteral("Port"));
    EXPECT_EQ(form->PortEdit->text(), QStringLiteral("telnet"));
    EXPECT_EQ(form->ConnectButton->text(), QStringLiteral("&Connect"));
    EXPECT_EQ(form->DisconnectButton->text(), QStringLiteral("&Disconnect"));
    EXPECT_EQ(form->OptionsButton->text(), QStringLiteral("&Options"));
    EXPECT_EQ(form->LocalEchoCheckBox->text(), QStringLiteral("Local Echo"));
    EXPECT_FALSE(form->LocalEchoCheckBox->isChecked());
    EXPECT_TRUE(form->ConnectButton->isEnabled());
    EXPECT_FALSE(form->DisconnectButton->isEnabled());
    // Shown: the socket library's description replaces "Not connected".
    EXPECT_EQ(Status(form), QString::fromStdString(TWSocket::SocketLibraryInfo().szDescription));
    EXPECT_EQ(form->MergedMenus(), QList<QMenu*>{form->File1});
    EXPECT_EQ(form->File1->title(), QStringLiteral("&File"));
    EXPECT_EQ(form->NewEditor1->text(), QStringLiteral("New Editor"));
    EXPECT_EQ(form->Exit1->text(), QStringLiteral("E&xit"));

    TTnEmulVT* t = form->TnEmulVT1;
    EXPECT_EQ(t->objectName(), QStringLiteral("TnEmulVT1"));
    EXPECT_EQ(t->geometry(), QRect(0, 56, 599 - 5, 403 - 56 - 10));
    EXPECT_EQ(t->HostName(), QStringLiteral("localhost"));
    EXPECT_EQ(t->Port(), QStringLiteral("telnet"));
    EXPECT_EQ(t->Location(), "Zarvos");
    EXPECT_EQ(t->IniFilename(), QStringLiteral("TNEMULVT.INI"));
    // Created with the settings stored for "localhost" (none here: the defaults).
    EXPECT_EQ(t->LineHeightSetting(), 12);
    EXPECT_EQ(t->FKeys(), 0);
    EXPECT_FALSE(t->Xlat());

    form->resize(700, 500);
    EXPECT_EQ(t->geometry(), QRect(0, 56, 695, 434));
}

TEST_F(TerminalWindowTest, AnEmptyHostNameStartsNothing)
{
    testsupport::ModalAnswerer answerer;
    form->HostNameEdit->clear();
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    EXPECT_EQ(Status(form), QStringLiteral("Connecting"));
    EXPECT_FALSE(form->ConnectButton->isEnabled());
    EXPECT_FALSE(form->DisconnectButton->isEnabled());
    ProcessEventsFor(100);
    EXPECT_EQ(form->TnEmulVT1->Session()->State(), wsClosed);
    EXPECT_EQ(Status(form), QStringLiteral("Connecting"));
    QTest::mouseClick(form->OptionsButton, Qt::LeftButton);
    ProcessEventsFor(100);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(TerminalWindowTest, AnUnknownHostShowsTheErrorAndEnablesConnectAgain)
{
    testsupport::ModalAnswerer answerer;
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    form->HostNameEdit->setText(QStringLiteral("no-such-host.invalid"));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_FALSE(answerer.Seen()[0].text.isEmpty());
    EXPECT_TRUE(form->ConnectButton->isEnabled());
    EXPECT_EQ(Status(form), QStringLiteral("Connecting"));
}

TEST_F(TerminalWindowTest, StoredOptionsApplyBeforeARefusedAttempt)
{
    {
        platform::IniFile ini(QStringLiteral("TNEMULVT.INI"));
        ini.WriteInteger(QStringLiteral("127.0.0.1"), QStringLiteral("Rows"), 30);
        ini.WriteInteger(QStringLiteral("127.0.0.1"), QStringLiteral("Cols"), 100);
        ini.WriteInteger(QStringLiteral("127.0.0.1"), QStringLiteral("LocalEcho"), 1);
    }
    std::uint16_t port = 0;
    {
        const testsupport::RawFd probe = testsupport::ListenLoopback(port);
    }
    form->PortEdit->setText(QString::number(port));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    EXPECT_EQ(form->TnEmulVT1->Rows(), 30);
    EXPECT_EQ(form->TnEmulVT1->Cols(), 100);
    EXPECT_TRUE(form->TnEmulVT1->LocalEcho());
    EXPECT_FALSE(form->LocalEchoCheckBox->isChecked());  // never set from the terminal
    ASSERT_TRUE(ProcessEventsUntil([&] { return form->ConnectButton->isEnabled(); }, 5000));
    EXPECT_EQ(Status(form), QStringLiteral("Not connected"));
    EXPECT_FALSE(form->DisconnectButton->isEnabled());
    const terminal::TScreen& s = form->TnEmulVT1->Screen();
    EXPECT_EQ(LineText(s, 1), "Connection failed: Connection refused");
    EXPECT_EQ(LineText(s, 3), "*** Server has closed ***");

    // The switch sets the terminal and hands it the keyboard.
    form->TnEmulVT1->SetLocalEcho(false);
    QTest::mouseClick(form->LocalEchoCheckBox, Qt::LeftButton);
    EXPECT_TRUE(form->TnEmulVT1->LocalEcho());
    EXPECT_TRUE(ProcessEventsUntil([&] { return form->TnEmulVT1->hasFocus(); }, 2000));
}

TEST_F(TerminalWindowTest, ASessionWithARealTelnetServer)
{
    ASSERT_TRUE(server.Start()) << server.Error().toStdString();
    ConnectToServer(form);
    EXPECT_TRUE(form->TnEmulVT1->hasFocus());
    const terminal::TScreen& s = form->TnEmulVT1->Screen();
    EXPECT_EQ(LineText(s, 0), "Connecting to '127.0.0.1'");
    EXPECT_EQ(LineText(s, 1), "Connected");

    ASSERT_TRUE(RunCommand(form, QStringLiteral("printf '\\033[1;31mRED\\033[0m\\n'"), "RED"))
        << terminal::DumpScreen(s);
    const int row = FindLine(s, "RED");
    EXPECT_EQ(LineText(s, row), "RED");
    for (int col = 0; col < 3; ++col)
        EXPECT_EQ(s.Line(row).Attrs[col], 0x09) << col;
    // The command line itself was echoed by the server, in the default attribute.
    const int typed = FindLine(s, std::string(TelnetdPeer::Prompt) + "printf '");
    ASSERT_GE(typed, 0) << terminal::DumpScreen(s);
    EXPECT_EQ(s.Line(typed).Attrs[10], 7);

    QTest::mouseClick(form->DisconnectButton, Qt::LeftButton);
    ASSERT_TRUE(ProcessEventsUntil([&] { return form->ConnectButton->isEnabled(); }, 5000));
    EXPECT_EQ(Status(form), QStringLiteral("Not connected"));
    EXPECT_GE(FindLine(s, "*** Server has closed ***"), 0);
}

TEST_F(TerminalWindowTest, TwoWindowsConnectedAtOnceStayIndependent)
{
    ASSERT_TRUE(server.Start()) << server.Error().toStdString();
    TTelnetForm* second = NewWindow();
    ConnectToServer(form);
    ConnectToServer(second);
    ASSERT_TRUE(RunCommand(form, QStringLiteral("echo one-$((20+1))"), "one-21"));
    ASSERT_TRUE(RunCommand(second, QStringLiteral("echo two-$((20+2))"), "two-22"));
    EXPECT_EQ(FindLine(form->TnEmulVT1->Screen(), "two-22"), -1);
    EXPECT_EQ(FindLine(second->TnEmulVT1->Screen(), "one-21"), -1);
    EXPECT_EQ(server.ShellsStarted(), 2);

    // Closing the first window ends its session only.
    QPointer<TTelnetForm> gone = form;
    form->close();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return gone.isNull();
        },
        5000));
    EXPECT_EQ(Status(second), QStringLiteral("Connected"));
    EXPECT_TRUE(RunCommand(second, QStringLiteral("echo still-$((1+2))"), "still-3"));
}

}  // namespace
