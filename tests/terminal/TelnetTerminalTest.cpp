// The telnet terminal: its settings file, its connection messages and data path against loopback
// peers under the test's control, typing and function keys on the wire, and mouse marking.
#include "TerminalTestUtil.h"

#include "platform/Beep.h"
#include "platform/IniFile.h"
#include "support/RawSocket.h"
#include "terminal/TelnetTerminal.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QTest>

#include <sys/socket.h>

using namespace termtest;
using testsupport::RawFd;

namespace {

QString IniPath()
{
    return IsolatedDirs::ConfigDir() + QStringLiteral("/zarvos-tests/TNEMULVT.INI");
}

class TelnetTerminalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(IniPath());
        term = std::make_unique<TTnEmulVT>();
        term->resize(700, 500);
        term->OnSessionConnected = [this](QObject*) {
            events += "connected " + std::to_string(term->Error()) + ";";
        };
        term->OnSessionClosed = [this](QObject*) {
            events += "closed " + std::to_string(term->Error()) + ";";
        };
        term->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(term.get()));
    }
    // Connects to a new loopback listener and accepts the connection.
    void ConnectToPeer()
    {
        std::uint16_t port = 0;
        listener = testsupport::ListenLoopback(port);
        term->SetHostName(QStringLiteral("127.0.0.1"));
        term->SetPort(QString::number(port));
        term->Connect();
        peer = testsupport::AcceptWithin(listener, 5000);
        ASSERT_TRUE(peer.Valid());
        ASSERT_TRUE(ProcessEventsUntil([&] { return events == "connected 0;"; }, 5000));
    }
    std::string ReadPeer(std::size_t n) { return testsupport::ReadUpTo(peer, n, 3000); }

    std::unique_ptr<TTnEmulVT> term;
    std::string events;
    RawFd listener, peer;
};

TEST_F(TelnetTerminalTest, DefaultsAndAHostWithoutASection)
{
    EXPECT_EQ(term->IniFilename(), QStringLiteral("TNEMULVT.INI"));
    EXPECT_EQ(term->SectionName(), QStringLiteral("Windows"));
    EXPECT_EQ(term->KeyName(), QStringLiteral("TnEmulVT"));
    EXPECT_EQ(term->Port(), QStringLiteral("telnet"));
    EXPECT_TRUE(term->HostName().isEmpty());
    EXPECT_EQ(term->Session()->parent(), term.get());

    // No host name: nothing is read.
    term->SetLineHeight(30);
    term->ReadHostSettings();
    EXPECT_EQ(term->LineHeight(), 30);

    term->SetHostName(QStringLiteral("nowhere"));
    term->SetRows(30);
    term->SetFKeys(2);
    term->SetAutoCR(true);
    term->SetUpperLock(true);
    term->SetXlat(true);
    term->ReadHostSettings();
    EXPECT_EQ(term->Font().family(), FixedPitchFamily());
    EXPECT_EQ(term->Font().pointSize(), QGuiApplication::font().pointSize());
    // Line height 12, and the cell not lower than the font's glyphs.
    EXPECT_EQ(term->LineHeightSetting(), 12);
    EXPECT_EQ(term->LineHeight(), std::max(12, term->FontHeight()));
    EXPECT_EQ(term->Rows(), 25);
    EXPECT_EQ(term->Cols(), 80);
    EXPECT_EQ(term->FKeys(), 0);
    EXPECT_FALSE(term->AutoCR() || term->AutoLF() || term->LocalEcho() || term->MonoChrome() ||
                 term->UpperLock() || term->Xlat());
}

TEST_F(TelnetTerminalTest, StoredSettingsAreAppliedWithinTheTerminalsRange)
{
    {
        platform::IniFile ini(QStringLiteral("TNEMULVT.INI"));
        const QString s = QStringLiteral("far.example");
        ini.WriteString(s, "FontName", "Courier New");
        ini.WriteInteger(s, "FontSize", 14);
        ini.WriteInteger(s, "FontPitch", 2);
        ini.WriteInteger(s, "FontStyle", 3);
        ini.WriteInteger(s, "LineHeight", 0);
        ini.WriteInteger(s, "Rows", 100);
        ini.WriteInteger(s, "Cols", 0);
        ini.WriteInteger(s, "MonoChrome", 5);
        ini.WriteInteger(s, "Xlat", 1);
        ini.WriteInteger(s, "FKeys", 2);
    }
    ASSERT_TRUE(QFile::exists(IniPath()));
    term->SetHostName(QStringLiteral("far.example"));
    term->ReadHostSettings();
    EXPECT_EQ(term->Font().family(), FixedPitchFamily());
    EXPECT_EQ(term->Font().pointSize(), 14);
    EXPECT_TRUE(term->Font().bold());
    EXPECT_TRUE(term->Font().italic());
    EXPECT_EQ(term->LineHeightSetting(), 1);
    EXPECT_EQ(term->LineHeight(), term->FontHeight());
    EXPECT_EQ(term->Rows(), 50);
    EXPECT_EQ(term->Cols(), 1);
    EXPECT_TRUE(term->MonoChrome());
    EXPECT_TRUE(term->Xlat());
    EXPECT_EQ(term->FKeys(), 2);
    // The host name is the section name exactly as entered.
    term->SetHostName(QStringLiteral("far"));
    term->ReadHostSettings();
    EXPECT_EQ(term->Rows(), 25);
}

TEST(TelnetTerminalFont, SettingsRoundTripAndTheNoFontMark)
{
    QTemporaryDir dir;
    platform::IniFile ini(dir.filePath(QStringLiteral("t.ini")));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 11);
    f.setFixedPitch(true);
    f.setUnderline(true);
    f.setStrikeOut(true);
    FontToSettings(f, ini, QStringLiteral("h"));
    EXPECT_EQ(ini.ReadSection(QStringLiteral("h")),
              (QStringList{"FontName", "FontSize", "FontPitch", "FontStyle"}));
    EXPECT_EQ(ini.ReadInteger("h", "FontPitch", -1), 2);
    EXPECT_EQ(ini.ReadInteger("h", "FontStyle", -1), 12);
    QFont back(QStringLiteral("Serif"), 30);
    SettingsToFont(back, ini, QStringLiteral("h"));
    EXPECT_EQ(back.family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(back.pointSize(), 11);
    EXPECT_TRUE(back.underline() && back.strikeOut() && !back.bold());

    // "*" (and a missing section) leave the font alone; an impossible size reads as 9.
    ini.WriteString("h", "FontName", "*");
    SettingsToFont(back, ini, QStringLiteral("h"));
    SettingsToFont(back, ini, QStringLiteral("none"));
    EXPECT_EQ(back.family(), QStringLiteral("DejaVu Sans Mono"));
    ini.WriteString("h", "FontName", "Terminal");
    ini.WriteInteger("h", "FontSize", -4);
    SettingsToFont(back, ini, QStringLiteral("h"));
    EXPECT_EQ(back.pointSize(), 9);

    // A font given in pixels is stored in points.
    QFont px(QStringLiteral("DejaVu Sans Mono"));
    px.setPixelSize(20);
    FontToSettings(px, ini, QStringLiteral("p"));
    EXPECT_EQ(ini.ReadInteger("p", "FontSize", 0), 15);
}

TEST_F(TelnetTerminalTest, ConnectWithoutAHostNameDoesNothing)
{
    term->Connect();
    EXPECT_EQ(LineText(term->Screen(), 0), "EmulVT");
    EXPECT_EQ(term->Session()->State(), wsClosed);
    ProcessEventsFor(50);
    EXPECT_TRUE(events.empty());
}

TEST_F(TelnetTerminalTest, ARefusedConnectionShowsTheFailureThenTheClosedLine)
{
    std::uint16_t port = 0;
    {
        const RawFd probe = testsupport::ListenLoopback(port);
    }  // a port nobody listens on now
    const auto beeps = platform::BeepCount();
    term->SetHostName(QStringLiteral("127.0.0.1"));
    term->SetPort(QString::number(port));
    term->Connect();
    EXPECT_TRUE(term->hasFocus());
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return events.find("closed") != std::string::npos; }, 5000));
    EXPECT_EQ(events, "connected 10061;closed 0;");
    EXPECT_EQ(platform::BeepCount() - beeps, 2u);
    const terminal::TScreen& s = term->Screen();
    EXPECT_EQ(LineText(s, 0), "Connecting to '127.0.0.1'");
    EXPECT_EQ(LineText(s, 1), "Connection failed: Connection refused");
    EXPECT_EQ(LineText(s, 2), "");
    EXPECT_EQ(LineText(s, 3), "*** Server has closed ***");
}

TEST_F(TelnetTerminalTest, AnUnknownHostRaisesAfterTheScreenIsCleared)
{
    term->SetHostName(QStringLiteral("no-such-host.invalid"));
    term->SetPort(QStringLiteral("23"));
    EXPECT_ANY_THROW(term->Connect());
    EXPECT_EQ(FindLine(term->Screen(), "EmulVT"), -1);
    EXPECT_EQ(FindLine(term->Screen(), "Connecting"), -1);
}

TEST_F(TelnetTerminalTest, ReceivedDataTypingAndFunctionKeysOnTheWire)
{
    std::string seen;
    term->OnDataAvailable = [&](QObject*, char* b, std::int32_t& len) {
        seen.append(b, static_cast<std::size_t>(len));
        len = 0;  // the handler's own copy: what is shown does not change
    };
    ConnectToPeer();
    EXPECT_EQ(LineText(term->Screen(), 0), "Connecting to '127.0.0.1'");
    EXPECT_EQ(LineText(term->Screen(), 1), "Connected");
    ASSERT_TRUE(testsupport::SendAll(peer, "\x1b[5;1Hhost \x1b[1;31mtext"));
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return LineText(term->Screen(), 4) == "host text"; }, 5000));
    EXPECT_EQ(seen, "\x1b[5;1Hhost \x1b[1;31mtext");
    EXPECT_EQ(term->Screen().Line(4).Attrs[5], 0x09);

    // Upper-case lock with local echo: l and s go out as L and S and show on the screen.
    term->SetUpperLock(true);
    term->SetLocalEcho(true);
    term->SetXlat(false);
    QTest::keyClick(term.get(), Qt::Key_L);
    QTest::keyClick(term.get(), Qt::Key_S);
    EXPECT_EQ(ReadPeer(2), "LS");
    EXPECT_EQ(LineText(term->Screen(), 4), "host textLS");
    // A11 Page Up sends ESC - and echoes it through the interpreter (the minus is written).
    term->SetFKeys(2);
    QTest::keyClick(term.get(), Qt::Key_PageUp);
    EXPECT_EQ(ReadPeer(2), "\x1b-");
    EXPECT_EQ(LineText(term->Screen(), 4), "host textLS-");
    // No SendMap on the way out; a byte 255 is doubled by the session.
    term->SetUpperLock(false);
    term->SetLocalEcho(false);
    QKeyEvent e(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("\u00E9\u00FF"));
    QApplication::sendEvent(term.get(), &e);
    EXPECT_EQ(ReadPeer(3), "\xE9\xFF\xFF");
    EXPECT_EQ(term->SendText("abc"), 3);
    EXPECT_EQ(ReadPeer(3), "abc");
    term->RequestEchoMode(true);
    EXPECT_EQ(ReadPeer(3), "\xFF\xFE\x01");

    // The server closing ends the session with the closed line.
    peer.Reset();
    ASSERT_TRUE(ProcessEventsUntil([&] { return events == "connected 0;closed 0;"; }, 5000));
    EXPECT_GE(FindLine(term->Screen(), "*** Server has closed ***"), 0);
    // Typing and function keys while not connected go nowhere, without an error.
    QTest::keyClick(term.get(), Qt::Key_X);
    QTest::keyClick(term.get(), Qt::Key_PageUp);
}

TEST_F(TelnetTerminalTest, MouseMarkingSnapsToCellsAndReleasesThePointer)
{
    term->SetFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10));
    term->SetLineHeight(16);
    const int cw = term->CharWidth(), lh = term->LineHeight();
    const QPoint o = term->ClientRect().topLeft();
    const auto at = [&](int row, int col) {
        return o + QPoint(6 + col * cw + 2, 4 + row * lh + 3);
    };

    QTest::mousePress(term.get(), Qt::LeftButton, {}, at(2, 3));
    EXPECT_TRUE(term->hasFocus());
    QTest::mouseMove(term.get(), at(2, 3));
    EXPECT_TRUE(term->MouseCaptured());
    EXPECT_TRUE(term->PointerConfined());
    EXPECT_EQ(term->ConfineRect().width(), term->ClientRect().width() - 16);
    QTest::mouseMove(term.get(), at(5, 10));
    EXPECT_TRUE(term->DragDrawn());
    QTest::mouseRelease(term.get(), Qt::LeftButton, {}, at(5, 10));
    EXPECT_FALSE(term->MouseCaptured());
    EXPECT_FALSE(term->PointerConfined());
    EXPECT_FALSE(term->DragDrawn());
    const TPixelRect expected{6 + 3 * cw, 4 + 2 * lh, 6 + 10 * cw + cw, 4 + 5 * lh + lh + 4};
    EXPECT_EQ(term->MarkRect(), expected);
    // The mark is framed: black inside, white around.
    const QImage img = Grab(*term);
    EXPECT_EQ(img.pixel(o.x() + expected.Left, o.y() + expected.Top + 5) & 0xFFFFFF, 0u);
    EXPECT_EQ(img.pixel(o.x() + expected.Left - 1, o.y() + expected.Top + 5) & 0xFFFFFF, 0xFFFFFFu);

    // A click removes the mark; a drag within one cell leaves none.
    QTest::mouseClick(term.get(), Qt::LeftButton, {}, at(8, 8));
    EXPECT_EQ(term->MarkRect().Top, -1);
    QTest::mousePress(term.get(), Qt::LeftButton, {}, at(8, 8));
    QTest::mouseMove(term.get(), at(8, 8));
    QTest::mouseMove(term.get(), at(8, 8) + QPoint(1, 1));
    QTest::mouseRelease(term.get(), Qt::LeftButton, {}, at(8, 8) + QPoint(1, 1));
    EXPECT_EQ(term->MarkRect().Top, -1);

    // Losing the focus in the middle of a drag releases the capture and the confinement.
    QTest::mousePress(term.get(), Qt::LeftButton, {}, at(1, 1));
    QTest::mouseMove(term.get(), at(1, 1));
    QTest::mouseMove(term.get(), at(3, 5));
    ASSERT_TRUE(term->PointerConfined());
    term->clearFocus();
    EXPECT_FALSE(term->PointerConfined());
    EXPECT_FALSE(term->MouseCaptured());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    QTest::mouseRelease(term.get(), Qt::LeftButton, {}, at(3, 5));

    // And so does hiding the terminal (its window closing).
    QTest::mousePress(term.get(), Qt::LeftButton, {}, at(1, 1));
    QTest::mouseMove(term.get(), at(1, 1));
    ASSERT_TRUE(term->MouseCaptured());
    term->hide();
    EXPECT_FALSE(term->PointerConfined());
    EXPECT_FALSE(term->MouseCaptured());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

}  // namespace
