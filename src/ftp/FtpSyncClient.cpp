// TFtpClient: the FTP engine as the windows use it, with Timeout and the synchronous operations
// that start a request and keep the event loop running until it has ended.
#include "ftp/FtpEngine.h"

#include "net/WaitControl.h"
#include "platform/Ticks.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// How often a plain wait wakes up to look at the clock when no event arrives.
constexpr int kWakeIntervalMs = 100;
// The longest count shown on the wait control when there is no time limit.
constexpr int kUnlimitedCount = 3600;

}  // namespace

TFtpClient::TFtpClient(QObject* AOwner) : TCustomFtpCli(AOwner)
{
    FTimeout = 15;
    FWakeTimer = std::make_unique<QTimer>();
    FWakeTimer->setInterval(kWakeIntervalMs);
}

TFtpClient::~TFtpClient() = default;

bool TFtpClient::Progress()
{
    const bool goOn = TCustomFtpCli::Progress();
    RestartTimeLimit();
    return goOn;
}

void TFtpClient::ControlBytesReceived(int Count)
{
    // A reply that trickles in keeps the wait alive, up to a bound per wait: past it, an endless
    // reply runs into the limit like silence does.
    if (FWaitControlBytes > kControlRefreshBytes) return;
    FWaitControlBytes += Count;
    RestartTimeLimit();
}

void TFtpClient::RestartTimeLimit()
{
    if (FTimeout <= 0) return;
    const std::uint32_t now = platform::GetTickCount();
    FTimeStop = now + static_cast<std::uint32_t>(FTimeout) * 1000u;
    // The wait control counts the silence down: progress starts its count again (at most twice a
    // second, the control repaints on every change).
    TWaitControl* ctrl = WaitCtrl();
    if (FWaits > 0 && ctrl && !FMultiThreaded && now - FCaptionRefresh >= 500) {
        FCaptionRefresh = now;
        ctrl->SetCaption(QString::number(FTimeout));
    }
}

bool TFtpClient::HandOverToWait(std::exception_ptr E)
{
    if (FWaits == 0) return false;
    if (!FWaitException) FWaitException = std::move(E);
    if (TWaitControl* ctrl = WaitCtrl(); ctrl && ctrl->Running()) ctrl->Stop();
    return true;
}

void TFtpClient::ReadyForWait()
{
    if (FWaits == 0 || FMultiThreaded) return;
    if (TWaitControl* ctrl = WaitCtrl(); ctrl && ctrl->Running()) ctrl->Stop();
}

bool TFtpClient::TimedOut() const
{
    return FTimeout > 0 && static_cast<std::int32_t>(platform::GetTickCount() - FTimeStop) > 0;
}

void TFtpClient::PumpOnce()
{
    if (FMultiThreaded) {
        FControlSocket->PumpMessages();
        platform::SleepMs(0);
        return;
    }
    if (TWaitControl* ctrl = WaitCtrl()) {
        int count = kUnlimitedCount;
        if (FTimeout > 0) {
            const auto left = static_cast<std::int32_t>(FTimeStop - platform::GetTickCount());
            count = std::max(1, (left + 999) / 1000);
        }
        ctrl->SetCaption(QString::number(count));
        ctrl->SetWaitVisible(true);
        // Returns when the engine is ready (Stop from ReadyForWait), when a handler's exception
        // arrives, or when the count runs out; the caller's loop decides which.
        ctrl->RunWait();
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool TFtpClient::WaitUntilReady()
{
    FTimeStop = platform::GetTickCount() + static_cast<std::uint32_t>(FTimeout) * 1000u;
    FWaitControlBytes = 0;
    struct Scope {
        TFtpClient& c;
        explicit Scope(TFtpClient& client) : c(client)
        {
            if (c.FWaits++ == 0 && !c.FWakeTimer->isActive()) c.FWakeTimer->start();
        }
        ~Scope()
        {
            if (--c.FWaits != 0) return;
            c.FWakeTimer->stop();
            c.FWaitException = nullptr;
            if (TWaitControl* ctrl = c.WaitCtrl()) {
                if (ctrl->Running()) ctrl->Stop();
                ctrl->SetWaitVisible(false);
            }
        }
    } scope(*this);

    const auto rethrowPending = [this] {
        if (!FWaitException) return;
        std::exception_ptr e = std::move(FWaitException);
        FWaitException = nullptr;
        std::rethrow_exception(e);
    };
    while (FState != fsReady) {
        rethrowPending();
        if (TimedOut()) {
            FTimedOutAwaitingData = AwaitingDataConnection();
            AbortAsync();
            FErrorMessage = "426 Timeout";
            FStatusCode = 426;
            return false;
        }
        PumpOnce();
    }
    // The completion is normally delivered inside the same round of event processing; deliver
    // it now if it is still queued, so that OnRequestDone of this request has run when the
    // synchronous operation returns.
    DeliverPostedCompletion();
    rethrowPending();
    return FRequestResult == 0;
}

bool TFtpClient::RunSync(void (TCustomFtpCli::*Operation)())
{
    try {
        (this->*Operation)();
        return WaitUntilReady();
    } catch (...) {
        // The operation could not start, or something run while waiting raised: the result is
        // false and nothing else is done with the exception.
        return false;
    }
}

bool TFtpClient::Connect()
{
    return RunSync(&TCustomFtpCli::ConnectAsync);
}

bool TFtpClient::Cwd()
{
    return RunSync(&TCustomFtpCli::CwdAsync);
}

bool TFtpClient::Pwd()
{
    return RunSync(&TCustomFtpCli::PwdAsync);
}

bool TFtpClient::CDup()
{
    return RunSync(&TCustomFtpCli::CDupAsync);
}

bool TFtpClient::TypeSet()
{
    return RunSync(&TCustomFtpCli::TypeSetAsync);
}

bool TFtpClient::Get()
{
    return RunSync(&TCustomFtpCli::GetAsync);
}

bool TFtpClient::Put()
{
    return RunSync(&TCustomFtpCli::PutAsync);
}

bool TFtpClient::Quit()
{
    return RunSync(&TCustomFtpCli::QuitAsync);
}

bool TFtpClient::Dir()
{
    return RunSync(&TCustomFtpCli::DirAsync);
}

bool TFtpClient::Mkd()
{
    return RunSync(&TCustomFtpCli::MkdAsync);
}

bool TFtpClient::Dele()
{
    return RunSync(&TCustomFtpCli::DeleAsync);
}

bool TFtpClient::Rmd()
{
    return RunSync(&TCustomFtpCli::RmdAsync);
}
