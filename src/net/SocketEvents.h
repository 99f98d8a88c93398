// The event source of one socket component: the "hidden window" that the socket layer reports to.
// It watches the component's current handle with two QSocketNotifiers (readable, writable), takes
// the notifications the component posts to itself (QCoreApplication::postEvent, delivered in
// posting order by the thread's event loop) and receives the completions of asynchronous host
// lookups (QHostInfo). It only transports; the component decides what each report means.
#pragma once

#include <QHostInfo>
#include <QObject>

#include <cstdint>
#include <memory>

class QSocketNotifier;

namespace net {

// Winsock network event bits, as carried by a socket event report.
enum : std::uint16_t {
    FD_READ = 0x01,
    FD_WRITE = 0x02,
    FD_OOB = 0x04,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
};

// What the event source reports to its component.
class TSocketEventSink {
public:
    virtual ~TSocketEventSink() = default;
    // The watched handle became readable / writable (the notifier is disabled before the call).
    virtual void SocketReadReady() = 0;
    virtual void SocketWriteReady() = 0;
    // A report the component posted to itself; serial names the connection it was posted for.
    virtual void SocketEventMessage(std::uint64_t serial, std::uint16_t events,
                                    std::uint16_t error) = 0;
    // An asynchronous host lookup finished.
    virtual void LookupDoneMessage(const QHostInfo& info) = 0;
};

class TSocketEventSource : public QObject {
    Q_OBJECT
public:
    explicit TSocketEventSource(TSocketEventSink& sink);
    ~TSocketEventSource() override;

    // Watches handle fd (both notifiers start disabled); -1 stops watching. Must be called with
    // -1 before the watched handle is closed.
    void Watch(int fd);
    int Watched() const { return fd_; }
    void SetReadEnabled(bool on);
    void SetWriteEnabled(bool on);
    bool ReadEnabled() const;
    bool WriteEnabled() const;

    // Posts a socket event report to this source; it is delivered from the event loop.
    void PostSocketEvent(std::uint64_t serial, std::uint16_t events, std::uint16_t error);

    // Starts an asynchronous lookup of name; returns its id (the QHostInfo lookup id).
    int LookupHost(const QString& name);
    static void AbortLookup(int id);

protected:
    bool event(QEvent* e) override;

private:
    TSocketEventSink& sink_;
    int fd_ = -1;
    int reporting_ = 0;  // notifier reports in progress (nested when a handler pumps events)
    std::unique_ptr<QSocketNotifier> read_;
    std::unique_ptr<QSocketNotifier> write_;
};

}  // namespace net
