// "Telnet (No Term. Emulation)" in the frame's and the editor's Internet menus, chosen with the
// mouse through the real menu bar: each choice opens a new plain telnet window inside the frame,
// and the windows work inside it, each with its own connection.
#include "FrameMenuFixture.h"

#include "editor/EditorWindow.h"
#include "telnet/PlainTelnetWindow.h"

#include "support/EventLoopWait.h"
#include "support/RawSocket.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

using testsupport::ProcessEventsUntil;

namespace {

class PlainTelnetMenu : public FrameMenuFixture {
protected:
    QList<TTnDemoForm*> TelnetWindows() const { return Children<TTnDemoForm>(); }
};

TEST_F(PlainTelnetMenu, EachChoiceOpensANewPlainTelnetWindow)
{
    // The editor is active: its Internet menu is the one on the menu bar.
    ASSERT_EQ(MenuBarTexts(),
              (QStringList{"&File", "View", "Format", "Internet", "Window", "About"}));
    ASSERT_EQ(frame_->menuBar()->actions().at(3)->menu(), myForm1->Internet1);
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet (No Term. Emulation)"));
    ASSERT_EQ(TelnetWindows().size(), 1);
    TTnDemoForm* first = TelnetWindows().at(0);
    EXPECT_EQ(first->objectName(), QStringLiteral("TnDemoForm"));
    EXPECT_EQ(frame_->MdiArea()->activeSubWindow()->widget(), first);
    EXPECT_EQ(first->parentWidget()->size(), QSize(538, 285));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->InfoLabel->text(), QStringLiteral("Disconnected"));

    // A plain telnet window has no menus of its own: the frame's stay.
    ASSERT_EQ(MenuBarTexts(), (QStringList{"File", "Internet", "Window", "About"}));
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet (No Term. Emulation)"));
    ASSERT_EQ(TelnetWindows().size(), 2);
    TTnDemoForm* second = TelnetWindows().at(1);
    EXPECT_NE(second, first);
    EXPECT_NE(second->TnCnx, first->TnCnx);
    EXPECT_EQ(frame_->FindWindowByName(QStringLiteral("TnDemoForm")) != nullptr, true);
    EXPECT_EQ(frame_->WindowList().count(QStringLiteral("Telnet")), 2);
}

TEST_F(PlainTelnetMenu, WindowsInsideTheFrameConnectTypeAndClose)
{
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet (No Term. Emulation)"));
    Choose(QStringLiteral("Internet"), QStringLiteral("Telnet (No Term. Emulation)"));
    const QList<TTnDemoForm*> windows = TelnetWindows();
    ASSERT_EQ(windows.size(), 2);

    // Each window connects to its own scripted server.
    std::uint16_t ports[2] = {};
    testsupport::RawFd listeners[2], peers[2];
    for (int i = 0; i < 2; ++i) {
        TTnDemoForm* w = windows[i];
        frame_->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(w->parentWidget()));
        listeners[i] = testsupport::ListenLoopback(ports[i]);
        w->HostEdit->setText(QStringLiteral("127.0.0.1"));
        w->PortEdit->setText(QString::number(ports[i]));
        QTest::mouseClick(w->ConnectButton, Qt::LeftButton);
        peers[i] = testsupport::AcceptWithin(listeners[i], 5000);
        ASSERT_TRUE(peers[i].Valid());
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return w->InfoLabel->text() == QLatin1String("Connected"); }, 5000));
        // Inside the frame too, the connected window's text area has the keyboard.
        EXPECT_EQ(QApplication::focusWidget(), w->DisplayMemo);
        QTest::keyClicks(w->DisplayMemo, QStringLiteral("w%1").arg(i));
        EXPECT_EQ(testsupport::ReadUpTo(peers[i], 2, 5000), "w" + std::to_string(i));
    }

    // Closing the first window destroys it and ends its connection; the second goes on.
    QPointer<TTnDemoForm> gone = windows[0];
    qobject_cast<QMdiSubWindow*>(windows[0]->parentWidget())->close();
    ASSERT_TRUE(ProcessEventsUntil(
        [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return gone.isNull();
        },
        5000));
    bool closed = false;
    testsupport::ReadUntilClosed(peers[0], 5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(TelnetWindows().size(), 1);
    EXPECT_EQ(windows[1]->InfoLabel->text(), QStringLiteral("Connected"));
    ASSERT_TRUE(testsupport::SendAll(peers[1], "still here\r\n"));
    EXPECT_TRUE(ProcessEventsUntil(
        [&] {
            return windows[1]->DisplayMemo->toPlainText().startsWith(QStringLiteral("still here"));
        },
        5000));
}

}  // namespace
