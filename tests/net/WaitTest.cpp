// The wait control, driven on a real (offscreen) window, and the socket's synchronous helpers
// that use it.
#include "net/Wait.h"

#include "NetTestUtil.h"
#include "platform/Beep.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <sys/socket.h>

#include <memory>

using namespace nettest;

namespace {

TEST(TWait, CountdownReportsEveryTickThenTimesOut)
{
    TWait w;
    std::vector<int> counts;
    int timeouts = 0;
    int waiting = 0;
    w.OnWait = [&](QObject*, int count) { counts.push_back(count); };
    w.OnTimeout = [&](QObject*) { ++timeouts; };
    w.OnWaiting = [&](QObject*) { ++waiting; };
    w.SetInterval(20);
    w.SetCaption("5");
    w.RunWait();
    EXPECT_EQ(counts, (std::vector<int>{4, 3, 2, 1, 0}));
    EXPECT_EQ(timeouts, 1);
    EXPECT_GT(waiting, 0);
    EXPECT_EQ(w.ModalResult(), 2);
    EXPECT_EQ(w.Caption(), "5");  // ready for the next Start
    EXPECT_FALSE(w.Running());
}

TEST(TWait, StopEndsRunWait)
{
    TWait w;
    int starts = 0;
    int stops = 0;
    w.OnWaitStart = [&](QObject*) { ++starts; };
    w.OnWaitStop = [&](QObject*) { ++stops; };
    w.SetCaption("60");
    QTimer::singleShot(50, [&] { w.Stop(); });
    w.RunWait();
    EXPECT_EQ(w.ModalResult(), 1);
    EXPECT_EQ(w.Caption(), "60");
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stops, 1);
}

TEST(TWait, CaptionWithoutACountStartsFifteen)
{
    TWait w;
    w.SetCaption("abc");
    w.Start();
    EXPECT_EQ(w.Caption(), "15");
    EXPECT_EQ(w.Total(), 15);
    EXPECT_TRUE(w.Running());
    w.Stop();
    EXPECT_EQ(TCustomWait::CountOf("  7x"), 7);
    EXPECT_EQ(TCustomWait::CountOf("x7"), 0);
    EXPECT_EQ(TCustomWait::CountOf(""), 0);
    w.SetCaption("0");
    w.Start();
    EXPECT_EQ(w.Caption(), "15");
    w.Stop();
    w.SetCaption("3");
    w.RestoreCaption();
    EXPECT_EQ(w.Caption(), "15");
}

TEST(TWait, ClicksAndKeysDuringRunWaitAreSwallowedWithABeep)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton("Press", &window);
    auto* wait = new TWait(&window);
    layout->addWidget(button);
    layout->addWidget(wait);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    button->setFocus();

    const auto beeps = platform::BeepCount();
    QTimer::singleShot(30, [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(button, Qt::Key_Space);
        QTest::mouseClick(button, Qt::RightButton);
        QTimer::singleShot(30, [&] { wait->Stop(); });
    });
    wait->SetCaption("10");
    wait->RunWait();
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(platform::BeepCount() - beeps, 3u);

    // After the wait the input reaches the window again, without a beep.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(platform::BeepCount() - beeps, 3u);

    // A widget allowed input (a Cancel button) is clicked during the wait, and its click can
    // end it; the other button's clicks are still swallowed.
    auto* cancel = new QPushButton("Cancel", &window);
    layout->addWidget(cancel);
    cancel->show();
    wait->AllowInput(cancel);
    QObject::connect(cancel, &QPushButton::clicked, [&] { wait->Stop(); });
    QTimer::singleShot(30, [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(cancel, Qt::LeftButton);
    });
    QTimer::singleShot(5000, [&] { wait->Stop(); });  // bound, should the click not pass
    wait->SetCaption("10");
    QElapsedTimer waited;
    waited.start();
    wait->RunWait();
    EXPECT_LT(waited.elapsed(), 4000) << "the allowed click ended the wait";
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(platform::BeepCount() - beeps, 4u);
}

TEST(TWait, AMessageBoxOpenedDuringTheWaitCanBeAnswered)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* wait = new TWait(&window);
    layout->addWidget(wait);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const auto beeps = platform::BeepCount();
    int answer = -1;
    bool stillSwallowing = false;
    // A handler run by the wait asks a question; the user clicks its button with the mouse.
    QTimer::singleShot(30, [&] {
        QMessageBox box(QMessageBox::Question, "Question", "Go on?",
                        QMessageBox::Yes | QMessageBox::No, &window);
        QTimer::singleShot(50, [&] {
            if (QAbstractButton* yes = box.button(QMessageBox::Yes))
                QTest::mouseClick(yes, Qt::LeftButton);
        });
        // Bounded: a box that cannot be answered is closed after a while.
        QTimer::singleShot(3000, &box, [&] { box.reject(); });
        answer = box.exec();
        // Once it is gone, input to the window is swallowed again.
        const auto before = platform::BeepCount();
        QTest::mouseClick(&window, Qt::LeftButton);
        stillSwallowing = platform::BeepCount() == before + 1;
        wait->Stop();
    });
    wait->SetCaption("10");
    wait->RunWait();
    EXPECT_EQ(answer, QMessageBox::Yes);
    EXPECT_TRUE(stillSwallowing);
    EXPECT_EQ(platform::BeepCount() - beeps, 1u);
}

TEST(TWait, PaintShowsTheRemainingCountAsABar)
{
    TWait w;
    EXPECT_EQ(w.size(), QSize(192, 32));
    w.SetCaption("60");
    w.Start();
    w.Stop();
    const QColor highlight = w.palette().color(QPalette::Highlight);
    QImage full = w.grab().toImage();
    EXPECT_EQ(QColor(full.pixel(186, 16)), highlight);  // bar reaches x = 3 + 185 - 1
    EXPECT_EQ(QColor(full.pixel(189, 16)), QColor(Qt::white));
    w.SetCaption("30");
    QImage half = w.grab().toImage();
    EXPECT_EQ(QColor(half.pixel(3 + 92 - 1, 20)), highlight);
    EXPECT_EQ(QColor(half.pixel(3 + 92 + 2, 20)), QColor(Qt::white));
}

TEST(TWait, DestroyingTheControlClearsTheSocketReference)
{
    TWSocket s;
    auto w = std::make_unique<TWait>();
    s.SetWaitCtrl(w.get());
    EXPECT_EQ(s.WaitCtrl(), w.get());
    w.reset();
    EXPECT_EQ(s.WaitCtrl(), nullptr);
}

class SocketWithWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        wait.SetWaitVisible(false);
        s.SetWaitCtrl(&wait);
    }
    TWait wait;
    TWSocket s;
};

TEST_F(SocketWithWait, WaitForConnectedIsStoppedByTheStateChange)
{
    std::uint16_t port = 0;
    testsupport::RawFd listener = testsupport::ListenLoopback(port);
    Address(s, port);
    s.Connect();
    bool shownDuringWait = false;
    wait.OnWaiting = [&](QObject*) { shownDuringWait = shownDuringWait || wait.Visible(); };
    EXPECT_TRUE(s.Wait(5, wsConnected));
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_TRUE(shownDuringWait);
    EXPECT_FALSE(wait.Visible());
    EXPECT_EQ(s.AwaitedState(), wsInvalidState);
}

TEST_F(SocketWithWait, WaitTimesOutWhenTheStateNeverComes)
{
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    wait.SetInterval(20);
    EXPECT_FALSE(s.Wait(3, wsListening));
    EXPECT_EQ(wait.ModalResult(), 2);
}

TEST_F(SocketWithWait, WaitForConnectedEndsWhenTheConnectFails)
{
    Address(s, testsupport::FreeTcpPort());
    s.Connect();
    EXPECT_FALSE(s.Wait(5, wsConnected));
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(s.State(), wsClosed);
}

TEST_F(SocketWithWait, ReadLineWaitsForTheLine)
{
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    QTimer::singleShot(50, [&] { testsupport::SendAll(pair.peer, "hello\r\nrest"); });
    std::string line;
    s.ReadLine(5, line);
    EXPECT_EQ(line, "hello");
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_FALSE(wait.Visible());
}

TEST_F(SocketWithWait, ReadLineReturnsThePartialLineAtTheTimeout)
{
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s));
    wait.SetInterval(20);
    ASSERT_TRUE(testsupport::SendAll(pair.peer, "part"));
    std::string line;
    s.ReadLine(2, line);
    EXPECT_EQ(line, "part");
    EXPECT_EQ(wait.ModalResult(), 2);
    ASSERT_TRUE(testsupport::SendAll(pair.peer, "ial\n"));
    s.ReadLine(5, line);
    EXPECT_EQ(line, "partial");
}

TEST_F(SocketWithWait, FlushHandsTheQueueOverWhileTheControlRuns)
{
    ConnectedPair pair;
    ASSERT_TRUE(pair.Connect(s, 4096));
    ShrinkSendBuffer(s);
    const std::string data = Pattern(256 * 1024);
    s.Send(data.data(), static_cast<int>(data.size()));
    ASSERT_FALSE(s.AllSent());
    BackgroundReader reader(pair.peer, data.size());
    s.Flush();
    EXPECT_TRUE(s.AllSent());
    EXPECT_FALSE(wait.Running());
    EXPECT_FALSE(wait.Visible());
    EXPECT_TRUE(reader.Received() == data);
}

}  // namespace
