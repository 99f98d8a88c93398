// zarvos: the frame window with its editors, FTP and telnet clients.
#include "app/FrameWindow.h"
#include "app/Startup.h"

#include <memory>

int main(int argc, char** argv)
{
    TZarvosApplication app(argc, argv);
    std::unique_ptr<TMyMDI> frame(CreateStartupWindows());
    QObject::connect(frame.get(), &TMyMDI::FrameClosed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return app.exec();
}
