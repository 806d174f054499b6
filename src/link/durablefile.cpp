#include "durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Durable {

bool syncFile(QFileDevice& file)
{
    if (!file.isOpen() || !file.flush())
        return false;
#ifdef Q_OS_WIN
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool syncFolder(const QString& folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return true;   // NTFS journals the rename itself; folders cannot be opened for sync
#else
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
#endif
}

bool syncFolderOf(const QString& filePath)
{
    return syncFolder(QFileInfo(filePath).absolutePath());
}

} // namespace Durable
