// The plain telnet window, driven through its real controls (offscreen): its two states, the
// bytes typed keys send, how received text is shown, errors, and a real telnetd session.
#include "TelnetTestUtil.h"

#include "peers/TelnetdPeer.h"
#include "support/Modal.h"
#include "support/PeerProcess.h"
#include "telnet/PlainTelnetWindow.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <thread>

using namespace telnettest;

namespace {

QStringList Lines(const TTnDemoForm& form)
{
    QStringList lines;
    for (QTextBlock b = form.DisplayMemo->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

class PlainTelnetWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = new TTnDemoForm;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    }
    void TearDown() override { delete form.data(); }

    // Connects the window to a scripted server through the Connect button.
    void ConnectToServer(ScriptedServer& server)
    {
        server.listener = testsupport::ListenLoopback(server.port);
        form->HostEdit->setText(QStringLiteral("127.0.0.1"));
        form->PortEdit->setText(QString::number(server.port));
        QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
        server.peer = testsupport::AcceptWithin(server.listener, 5000);
        ASSERT_TRUE(server.peer.Valid());
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return form->InfoLabel->text() == QLatin1String("Connected"); }, 5000));
    }
    void ExpectDisconnectedState()
    {
        EXPECT_EQ(form->InfoLabel->text(), QStringLiteral("Disconnected"));
        EXPECT_TRUE(form->ConnectButton->isEnabled());
        EXPECT_FALSE(form->DisconnectButton->isEnabled());
        EXPECT_FALSE(form->DisplayMemo->isEnabled());
    }

    QPointer<TTnDemoForm> form;
};

TEST_F(PlainTelnetWindowTest, StartsDisconnectedWithItsInitialTexts)
{
    EXPECT_EQ(form->objectName(), QStringLiteral("TnDemoForm"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Telnet"));
    EXPECT_EQ(form->size(), QSize(538, 285));
    EXPECT_EQ(form->Panel1->height(), 50);
    EXPECT_EQ(form->HostLabel->text(), QStringLiteral("Host"));
    EXPECT_EQ(form->HostEdit->text(), QStringLiteral("localhost"));
    EXPECT_EQ(form->PortLabel->text(), QStringLiteral("Port"));
    EXPECT_EQ(form->PortEdit->text(), QStringLiteral("telnet"));
    EXPECT_EQ(form->ConnectButton->text(), QStringLiteral("&Connect"));
    EXPECT_EQ(form->DisconnectButton->text(), QStringLiteral("&Disconnect"));
    ExpectDisconnectedState();
    EXPECT_EQ(form->TnCnx->Port(), "23");
    EXPECT_EQ(form->TnCnx->Location(), "TNCNX");
    EXPECT_EQ(form->TnCnx->TermType(), "VT100");
    EXPECT_FALSE(form->TnCnx->LocalEcho());
    EXPECT_EQ(form->TnCnx->parent(), form.data());
}

TEST_F(PlainTelnetWindowTest, ConnectAndDisconnectSwitchStatesAndFocus)
{
    form->DisplayMemo->setPlainText(QStringLiteral("old text"));
    form->TnCnx->SetTermType("OTHER");
    form->TnCnx->SetLocalEcho(true);
    ScriptedServer server;
    ConnectToServer(server);
    EXPECT_EQ(form->TnCnx->Host(), "127.0.0.1");
    EXPECT_EQ(form->TnCnx->Port(), std::to_string(server.port));
    EXPECT_EQ(form->TnCnx->TermType(), "VT100");
    EXPECT_FALSE(form->TnCnx->LocalEcho());
    EXPECT_EQ(Lines(*form), QStringList{QString()});
    EXPECT_TRUE(form->DisplayMemo->isEnabled());
    EXPECT_FALSE(form->ConnectButton->isEnabled());
    EXPECT_TRUE(form->DisconnectButton->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), form->DisplayMemo);

    server.Write("kept\r\n");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).size() == 2; }, 5000));
    QTest::mouseClick(form->DisconnectButton, Qt::LeftButton);
    ExpectDisconnectedState();
    EXPECT_EQ(QApplication::focusWidget(), form->ConnectButton);
    EXPECT_EQ(Lines(*form), (QStringList{QStringLiteral("kept"), QString()}));
    bool closed = false;
    testsupport::ReadUntilClosed(server.peer, 2000, &closed);
    EXPECT_TRUE(closed);

    // Connecting again works, and the host closing returns the window to Disconnected.
    ScriptedServer second;
    ConnectToServer(second);
    second.peer.Reset();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return form->InfoLabel->text() == QLatin1String("Disconnected"); }, 5000));
    ExpectDisconnectedState();
}

TEST_F(PlainTelnetWindowTest, TypedCharactersAreSentAsOneByteEachAndNotShown)
{
    ScriptedServer server;
    ConnectToServer(server);
    QTest::keyClicks(form->DisplayMemo, QStringLiteral("ls"));
    QTest::keyClick(form->DisplayMemo, Qt::Key_Return);
    EXPECT_EQ(server.Read(3), "ls\r");
    ProcessEventsFor(50);
    EXPECT_EQ(Lines(*form), QStringList{QString()});

    // Only what the host sends back is shown.
    server.Write("ls\r\nfile\r\n");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).size() == 3; }, 5000));
    EXPECT_EQ(Lines(*form), (QStringList{QStringLiteral("ls"), QStringLiteral("file"), QString()}));

    // Control and editing keys: Backspace 8, Tab 9, Escape 27, Ctrl+C 3, Ctrl+[ 27, keypad
    // Enter 13; cursor, Delete, Insert, Home, Page and function keys, and Alt+X, send nothing.
    const QString before = form->DisplayMemo->toPlainText();
    QTest::keyClick(form->DisplayMemo, Qt::Key_Backspace);
    QTest::keyClick(form->DisplayMemo, Qt::Key_Tab);
    QTest::keyClick(form->DisplayMemo, Qt::Key_Escape);
    QTest::keyClick(form->DisplayMemo, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(form->DisplayMemo, Qt::Key_BracketLeft, Qt::ControlModifier);
    QTest::keyClick(form->DisplayMemo, Qt::Key_Enter, Qt::KeypadModifier);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Delete, Qt::Key_Insert, Qt::Key_Home,
                        Qt::Key_End, Qt::Key_PageUp, Qt::Key_F1, Qt::Key_Shift})
        QTest::keyClick(form->DisplayMemo, key);
    QTest::keyClick(form->DisplayMemo, Qt::Key_X, Qt::AltModifier);
    QTest::keyClick(form->DisplayMemo, 'A');
    EXPECT_EQ(server.Read(7), Bytes({8, 9, 27, 3, 27, 13, 'A'}));
    // A Latin-1 letter is its own byte; a character outside Latin-1 becomes "?".
    QTest::sendKeyEvent(QTest::Click, form->DisplayMemo, Qt::Key_Eacute, QString(QChar(0xE9)),
                        Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, form->DisplayMemo, Qt::Key_unknown, QString(QChar(0x20AC)),
                        Qt::NoModifier);
    // A byte 255 (y with diaeresis) goes out doubled, as telnet data must.
    QTest::sendKeyEvent(QTest::Click, form->DisplayMemo, Qt::Key_ydiaeresis, QString(QChar(0xFF)),
                        Qt::NoModifier);
    EXPECT_EQ(server.Read(4), Bytes({0xE9, '?', 255, 255}));
    EXPECT_EQ(server.ReadFor(50), "");
    EXPECT_EQ(form->DisplayMemo->toPlainText(), before);
}

TEST_F(PlainTelnetWindowTest, ReceivedTextRules)
{
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        QStringList lines;
    };
    const QString lf(QChar(TTnDemoForm::LineFeedSymbol));
    const std::vector<Case> cases = {
        {"prompt continues", {"login: ", "user"}, {QStringLiteral("login: user")}},
        {"CR LF", {"a\r\nb"}, {QStringLiteral("a"), QStringLiteral("b")}},
        {"CR CR", {"a\r\rb"}, {QStringLiteral("a"), QString(), QStringLiteral("b")}},
        {"lone LF", {"a\nb"}, {QStringLiteral("a") + lf + QStringLiteral("b")}},
        {"LF in the next text", {"x\r", "\ny"}, {QStringLiteral("x"), lf + QStringLiteral("y")}},
        {"CR at the end", {"x\r\n"}, {QStringLiteral("x"), QString()}},
        {"controls kept", {"ab\bc\a\x1b[1m\t!"}, {QStringLiteral("ab\bc\a\x1b[1m\t!")}},
        {"Latin-1", {"caf\xE9"}, {QStringLiteral("caf\u00E9")}},
        {"empty", {"", "z"}, {QStringLiteral("z")}},
    };
    for (const Case& c : cases) {
        form->DisplayMemo->clear();
        for (const std::string& t : c.texts)
            form->AppendReceivedText(t);
        EXPECT_EQ(Lines(*form), c.lines) << c.name;
    }

    // The data handler takes the text up to the first NUL and ignores Len.
    form->DisplayMemo->clear();
    char block[] = "ab\0cd";
    form->TnCnxDataAvailable(form->TnCnx, block, 5);
    EXPECT_EQ(Lines(*form), QStringList{QStringLiteral("ab")});
}

TEST_F(PlainTelnetWindowTest, ReceivedTextThroughTheSession)
{
    ScriptedServer server;
    ConnectToServer(server);
    // Telnet commands are answered, not shown; a NUL hides the rest of its block.
    server.Write(Bytes({255, 251, 1}) + "login: ");
    EXPECT_EQ(server.Read(3), Bytes({255, 253, 1}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).last() == "login: "; }, 5000));
    server.Write("user\r\nvisible" + std::string(1, '\0') + "hidden");
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).size() == 2; }, 5000));
    ProcessEventsFor(50);
    EXPECT_EQ(Lines(*form),
              (QStringList{QStringLiteral("login: user"), QStringLiteral("visible")}));
}

TEST_F(PlainTelnetWindowTest, LongLinesGoOnInTheNextLine)
{
    const int max = TTnDemoForm::MaxLineLength;
    form->AppendReceivedText(std::string(static_cast<std::size_t>(max) - 2, 'a'));
    form->AppendReceivedText("bcde\r\nf");
    const QStringList lines = Lines(*form);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QString(max - 2, QChar(u'a')) + QStringLiteral("bc"));
    EXPECT_EQ(lines[1], QStringLiteral("de"));
    EXPECT_EQ(lines[2], QStringLiteral("f"));
}

TEST_F(PlainTelnetWindowTest, MegabyteBurstWithoutLineEndsIsShownWhole)
{
    // Appending to one ever longer line would take minutes; the window keeps lines short.
    ScriptedServer server;
    ConnectToServer(server);
    const std::size_t size = 1u << 20;
    std::string burst(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        burst[i] = static_cast<char>('!' + i % 90);
    std::thread writer([&] { testsupport::SendAll(server.peer, burst); });
    const auto shown = [&] {
        return form->DisplayMemo->document()->characterCount() - form->DisplayMemo->blockCount();
    };
    const bool all = ProcessEventsUntil([&] { return shown() >= static_cast<int>(size); }, 60000);
    writer.join();
    ASSERT_TRUE(all) << shown();
    EXPECT_EQ(form->DisplayMemo->blockCount(), static_cast<int>(size) / TTnDemoForm::MaxLineLength);
    const QStringList lines = Lines(*form);
    EXPECT_EQ(lines.join(QString()),
              QString::fromLatin1(burst.data(), static_cast<qsizetype>(size)));
}

TEST_F(PlainTelnetWindowTest, RefusedConnectPassesThroughConnectedToDisconnected)
{
    QStringList states;
    auto connected = form->TnCnx->OnSessionConnected;
    auto closed = form->TnCnx->OnSessionClosed;
    form->TnCnx->OnSessionConnected = [&](TTnCnx* s, std::uint16_t e) {
        connected(s, e);
        states << form->InfoLabel->text() + QStringLiteral(" ") + QString::number(e);
    };
    form->TnCnx->OnSessionClosed = [&](TTnCnx* s, std::uint16_t e) {
        closed(s, e);
        states << form->InfoLabel->text() + QStringLiteral(" ") + QString::number(e);
    };
    form->DisplayMemo->setPlainText(QStringLiteral("old"));
    form->HostEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(testsupport::FreeTcpPort()));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    ASSERT_TRUE(ProcessEventsUntil([&] { return states.size() == 2; }, 5000));
    EXPECT_EQ(states,
              (QStringList{QStringLiteral("Connected 10061"), QStringLiteral("Disconnected 0")}));
    ExpectDisconnectedState();
    EXPECT_EQ(form->DisplayMemo->toPlainText(), QString());
}

TEST_F(PlainTelnetWindowTest, UnknownHostIsShownInTheErrorBoxAndTheWindowStaysDisconnected)
{
    testsupport::ModalAnswerer answerer;
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    form->HostEdit->setText(QStringLiteral("no-such-host.invalid"));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(answerer.Seen()[0].text.contains(QStringLiteral("no-such-host.invalid")))
        << answerer.Seen()[0].text.toStdString();
    ExpectDisconnectedState();
    EXPECT_EQ(form->TnCnx->State(), wsClosed);

    // So does an unknown service name.
    answerer.Expect(testsupport::ClickButton(QMessageBox::Ok));
    form->HostEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QStringLiteral("no-such-service"));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    EXPECT_EQ(answerer.Seen().size(), 2u);
    EXPECT_EQ(answerer.Unexpected(), 0);
    ExpectDisconnectedState();
}

TEST_F(PlainTelnetWindowTest, TwoWindowsHaveTheirOwnConnections)
{
    QPointer<TTnDemoForm> first = form;
    ScriptedServer serverA, serverB;
    ConnectToServer(serverA);
    form = new TTnDemoForm;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    ConnectToServer(serverB);
    QTest::keyClick(first->DisplayMemo, Qt::Key_A);
    QTest::keyClick(form->DisplayMemo, Qt::Key_B);
    EXPECT_EQ(serverA.Read(1), "a");
    EXPECT_EQ(serverB.Read(1), "b");
    serverA.Write(Bytes({255}));  // half a command for the first window only
    serverB.Write(Bytes({255, 255}) + "B");
    serverA.Write(Bytes({255}) + "A");
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return Lines(*first).last().size() == 2 && Lines(*form).last().size() == 2; }, 5000));
    EXPECT_EQ(Lines(*first).last(), QStringLiteral("\u00FFA"));
    EXPECT_EQ(Lines(*form).last(), QStringLiteral("\u00FFB"));

    // Closing one window ends its own connection and leaves the other open.
    first->close();
    ProcessEventsUntil([&] { return first.isNull(); }, 5000);
    EXPECT_TRUE(first.isNull());
    bool closed = false;
    testsupport::ReadUntilClosed(serverA.peer, 2000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(form->InfoLabel->text(), QStringLiteral("Connected"));
    QTest::keyClick(form->DisplayMemo, Qt::Key_C);
    EXPECT_EQ(serverB.Read(1), "c");
}

TEST_F(PlainTelnetWindowTest, RealTelnetServerShowsThePromptAndRunsACommand)
{
    testsupport::TelnetdPeer server;
    ASSERT_TRUE(server.Start()) << server.Error().toStdString();
    form->HostEdit->setText(QStringLiteral("127.0.0.1"));
    form->PortEdit->setText(QString::number(server.Port()));
    QTest::mouseClick(form->ConnectButton, Qt::LeftButton);
    const QString prompt = QString::fromLatin1(testsupport::TelnetdPeer::Prompt);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).last() == prompt; }, 15000))
        << form->DisplayMemo->toPlainText().toStdString();
    EXPECT_EQ(form->InfoLabel->text(), QStringLiteral("Connected"));

    QTest::keyClicks(form->DisplayMemo, QStringLiteral("echo hello"));
    QTest::keyClick(form->DisplayMemo, Qt::Key_Return);
    ASSERT_TRUE(ProcessEventsUntil([&] { return Lines(*form).contains("hello"); }, 10000))
        << form->DisplayMemo->toPlainText().toStdString();
    const QStringList lines = Lines(*form);
    EXPECT_EQ(lines.at(lines.indexOf("hello") - 1), prompt + QStringLiteral("echo hello"));

    QTest::keyClicks(form->DisplayMemo, QStringLiteral("exit"));
    QTest::keyClick(form->DisplayMemo, Qt::Key_Return);
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return form->InfoLabel->text() == QLatin1String("Disconnected"); }, 10000));
    ExpectDisconnectedState();
    server.Stop();
}

}  // namespace
