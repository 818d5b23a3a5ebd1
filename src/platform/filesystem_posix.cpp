#include "platform/filesystem.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {

bool openRegularForReading(QFile &file, const QString &path)
{
    // A zero character would cut the path short and open another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    // Non-blocking, so that opening a FIFO cannot wait for a writer.
    const int fd = ::open(path.toUtf8().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool replace(const QString &from, const QString &to)
{
    return std::rename(from.toUtf8().constData(), to.toUtf8().constData()) == 0;
}

void remove(const QString &path)
{
    ::unlink(path.toUtf8().constData());
}

} // namespace FileSystem
