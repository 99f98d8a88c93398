// The FTP engine's notification target: the engine posts notifications to it, and the thread's
// event loop delivers them later, in posting order with the socket events. Private to the engine.
#pragma once

#include "ftp/FtpEngine.h"

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <exception>

namespace ftp::detail {

// The event type of the request-done notification.
QEvent::Type RequestDoneType();

class TFtpNotifier : public QObject {
public:
    explicit TFtpNotifier(TCustomFtpCli& owner);

    // The completion of a request: fires OnRequestDone(request, error) when delivered.
    void PostRequestDone(TFtpRequest request, std::uint16_t error);
    // An exception of one of the owner's handlers, thrown again when delivered.
    void PostRethrow(std::exception_ptr e);

protected:
    bool event(QEvent* e) override;

private:
    TCustomFtpCli& owner_;
};

}  // namespace ftp::detail
