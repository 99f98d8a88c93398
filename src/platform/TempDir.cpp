#include "platform/TempDir.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace platform {

QString PrivateTempDir()
{
    // QTemporaryDir creates the directory with mode 0700 and removes it in its destructor, which
    // runs at program exit for this function-local static.
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        auto d =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zarvos-XXXXXX"));
        return d;
    }();
    if (!dir->isValid()) return QString();
    return dir->path() + u'/';
}

}  // namespace platform
