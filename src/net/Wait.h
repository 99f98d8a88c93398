// TWait: the countdown control that turns the event-driven socket into something a caller can
// wait on. While RunWait runs, events keep being processed (socket events keep arriving) but the
// user's mouse-button and key presses are swallowed with a beep; the control shows the remaining
// count as a bar and a number and ends when told to Stop or when the count reaches zero.
//
// A widget named with AllowInput (a button that stops what the wait waits for, such as a transfer's
// Cancel) takes its clicks and keys during the wait like any other time.
//
// Caption is both the displayed number and the countdown state: the remaining count is the value
// of its leading decimal digits (leading blanks skipped; no digits = 0). A socket's WaitCtrl
// property points to a TWait through the TWaitControl interface.
#pragma once

#include "net/WSocket.h"

#include <QBrush>
#include <QFont>
#include <QList>
#include <QPen>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

// Sender and the remaining count after the tick.
using TWaitEvent = std::function<void(QObject* Sender, int Count)>;

class TCustomWait : public QWidget, public TWaitControl {
    Q_OBJECT
public:
    // A 192 x 32 control, Caption "60", timer off with an interval of 1000 ms.
    explicit TCustomWait(QWidget* AOwner = nullptr);
    ~TCustomWait() override;

    // total := count in Caption (0: 15, and Caption "15"); timer on; OnWaitStart.
    void Start() override;
    // ModalResult 1; timer off; Caption := total; OnWaitStop.
    void Stop() override;
    // Installs the application-wide input filter, ModalResult 0, Start, then fires OnWaiting and
    // processes pending events round after round while Running; removes the filter. A modal
    // window that comes up during the wait (a message box shown by a handler the wait runs)
    // gets its input: it blocks every other window itself and must be answerable.
    void RunWait() override;
    // Caption := total.
    void RestoreCaption() override;
    bool Running() const override { return timer_.isActive(); }

    QString Caption() const override { return caption_; }
    void SetCaption(const QString& caption) override;
    void SetWaitVisible(bool visible) override { setVisible(visible); }

    // 0 while a wait runs, 1 after Stop, 2 after a timeout.
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int value) { modalResult_ = value; }
    // The tick period in milliseconds (1000 by default: the count is in seconds).
    std::uint16_t Interval() const { return static_cast<std::uint16_t>(timer_.interval()); }
    void SetInterval(std::uint16_t ms) { timer_.setInterval(ms); }
    bool Visible() const { return isVisible(); }
    void SetVisible(bool visible) { setVisible(visible); }
    // The count the current (or last) wait started from.
    int Total() const { return total_; }

    // The count a caption stands for: its leading decimal digits after leading blanks, else 0.
    static int CountOf(const QString& caption);

    // Input to widget (and to its children) is not swallowed during a wait; the wait goes on,
    // and the widget's handler may end what the wait waits for. Kept until the widget goes.
    void AllowInput(QWidget* widget);

    TWaitEvent OnWait;
    TNotifyEvent OnWaiting;
    TNotifyEvent OnWaitStart;
    TNotifyEvent OnWaitStop;
    TNotifyEvent OnTimeout;

protected:
    void paintEvent(QPaintEvent* event) override;
    // The input filter of RunWait.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Tick();

    QPen pen_;
    QFont font_;
    QBrush brush_;
    QString caption_ = QStringLiteral("60");
    QTimer timer_;
    int modalResult_ = 0;
    int total_ = 60;
    QPointer<QWidget> modalAtStart_;    // the modal window that was up when the wait began
    QList<QPointer<QWidget>> allowed_;  // widgets whose input passes (AllowInput)
};

// The control as the program places it.
class TWait : public TCustomWait {
    Q_OBJECT
public:
    using TCustomWait::TCustomWait;
};
