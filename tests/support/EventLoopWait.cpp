#include "support/EventLoopWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

namespace testsupport {

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;  // keeps WaitForMoreEvents from sleeping past the deadline
    wake.start(10);
    while (!done()) {
        if (deadline.hasExpired()) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void ProcessEventsFor(int ms)
{
    ProcessEventsUntil([] { return false; }, ms);
}

}  // namespace testsupport
