#include "platform/FileErrors.h"

#include <cerrno>

namespace platform {

QString FileErrorText(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("File not found");
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EEXIST:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("Disk full");
    case kReadBeyondEnd:
        return QStringLiteral("Read beyond end of file");
    default:
        return QStringLiteral("I/O error %1").arg(err);
    }
}

}  // namespace platform
