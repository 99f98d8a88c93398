#include "net/SocketEvents.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>

namespace net {

namespace {

const QEvent::Type kSocketEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TSocketEventReport : public QEvent {
public:
    TSocketEventReport(std::uint64_t serial, std::uint16_t events, std::uint16_t error)
        : QEvent(kSocketEventType), serial_(serial), events_(events), error_(error)
    {
    }
    std::uint64_t serial_;
    std::uint16_t events_;
    std::uint16_t error_;
};

// Counts a notifier report in progress for the length of a scope.
class Reporting {
public:
    explicit Reporting(int& depth) : depth_(depth) { ++depth_; }
    ~Reporting() { --depth_; }
    Reporting(const Reporting&) = delete;
    Reporting& operator=(const Reporting&) = delete;

private:
    int& depth_;
};

}  // namespace

TSocketEventSource::TSocketEventSource(TSocketEventSink& sink) : sink_(sink)
{
}

TSocketEventSource::~TSocketEventSource()
{
    Watch(-1);
}

void TSocketEventSource::Watch(int fd)
{
    if (fd == fd_) return;
    // Switching a notifier off unregisters it, so the handle may be closed at once. A notifier
    // whose activation is still running (a report is being handled) is freed from the event
    // loop instead of under its own feet.
    for (std::unique_ptr<QSocketNotifier>* n : {&read_, &write_}) {
        if (!*n) continue;
        (*n)->setEnabled(false);
        (*n)->disconnect(this);
        if (reporting_ > 0)
            (*n).release()->deleteLater();
        else
            n->reset();
    }
    fd_ = fd;
    if (fd < 0) return;
    read_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    read_->setEnabled(false);
    write_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    write_->setEnabled(false);
    // A notifier is switched off before the report, so that a handler that pumps the event loop
    // does not receive the same readiness again inside itself; the component switches it back on.
    connect(read_.get(), &QSocketNotifier::activated, this, [this] {
        read_->setEnabled(false);
        Reporting guard(reporting_);
        sink_.SocketReadReady();
    });
    connect(write_.get(), &QSocketNotifier::activated, this, [this] {
        write_->setEnabled(false);
        Reporting guard(reporting_);
        sink_.SocketWriteReady();
    });
}

void TSocketEventSource::SetReadEnabled(bool on)
{
    if (read_ && read_->isEnabled() != on) read_->setEnabled(on);
}

void TSocketEventSource::SetWriteEnabled(bool on)
{
    if (write_ && write_->isEnabled() != on) write_->setEnabled(on);
}

bool TSocketEventSource::ReadEnabled() const
{
    return read_ && read_->isEnabled();
}

bool TSocketEventSource::WriteEnabled() const
{
    return write_ && write_->isEnabled();
}

void TSocketEventSource::PostSocketEvent(std::uint64_t serial, std::uint16_t events,
                                         std::uint16_t error)
{
    QCoreApplication::postEvent(this, new TSocketEventReport(serial, events, error));
}

int TSocketEventSource::LookupHost(const QString& name)
{
    return QHostInfo::lookupHost(name, this,
                                 [this](const QHostInfo& info) { sink_.LookupDoneMessage(info); });
}

void TSocketEventSource::AbortLookup(int id)
{
    QHostInfo::abortHostLookup(id);
}

bool TSocketEventSource::event(QEvent* e)
{
    if (e->type() == kSocketEventType) {
        const auto* r = static_cast<const TSocketEventReport*>(e);
        sink_.SocketEventMessage(r->serial_, r->events_, r->error_);
        return true;
    }
    return QObject::event(e);
}

}  // namespace net
