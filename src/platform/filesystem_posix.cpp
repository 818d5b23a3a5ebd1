#include "platform/filesystem.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSystem {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Writes all of `bytes`, going on after a short write or an interruption.
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// An empty file counts as ended; one that cannot be read as not, since an
// empty line costs a reader nothing and a glued one costs a record.
bool endsWithLineEnd(int fd, off_t size)
{
    if (size == 0)
        return true;
    char last = 0;
    return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

// Makes a rename in `path`'s folder survive a crash.
bool syncFolderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder and say so; nothing to wait for.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

QString linkRefusal(const QString &path)
{
    return QStringLiteral("\"%1\" is a symbolic link; it is not followed").arg(path);
}

bool usablePath(const QString &path, QString *error)
{
    if (path.isEmpty() || path.contains(QChar(0))) {
        *error = QStringLiteral("\"%1\" is no usable file name").arg(path);
        return false;
    }
    return true;
}

} // namespace

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

bool appendRecord(const QString &path, const QByteArray &record, QString *error)
{
    if (!usablePath(path, error))
        return false;
    const QByteArray name = path.toUtf8();
    // Readable too, to see whether the last line was ended.
    const int fd = ::open(name.constData(),
                          O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        *error = code == ELOOP ? linkRefusal(path)
                               : QStringLiteral("cannot open \"%1\": %2").arg(path, systemError(code));
        return false;
    }
    struct stat info;
    bool appended = false;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = QStringLiteral("\"%1\" is not a regular file").arg(path);
    } else if (!writeAll(fd, endsWithLineEnd(fd, info.st_size) ? record : '\n' + record)) {
        // Never cut the file back: another writer may have appended a line
        // meanwhile. The torn rest is ended by the next record's line end.
        *error = QStringLiteral("cannot append to \"%1\": %2").arg(path, systemError(errno));
    } else {
        appended = true;
    }
    ::close(fd);
    return appended;
}

bool writeWhole(const QString &path, const QByteArray &contents, QString *error)
{
    if (!usablePath(path, error))
        return false;
    const QByteArray name = path.toUtf8();
    struct stat existing;
    mode_t mode = 0600;
    if (::lstat(name.constData(), &existing) == 0) {
        if (S_ISLNK(existing.st_mode)) {
            *error = linkRefusal(path);
            return false;
        }
        if (!S_ISREG(existing.st_mode)) {
            *error = QStringLiteral("\"%1\" is not a regular file").arg(path);
            return false;
        }
        // Set-user-ID and set-group-ID bits are not the writer's to carry.
        mode = existing.st_mode & 0777;
    }
    // mkstemp creates its file exclusively (O_EXCL) with mode 0600.
    QByteArray scratch = name + ".XXXXXX";
    const int fd = ::mkstemp(scratch.data());
    if (fd < 0) {
        *error = QStringLiteral("cannot create a file beside \"%1\": %2").arg(path, systemError(errno));
        return false;
    }
    const bool written = writeAll(fd, contents) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int code = errno;
    ::close(fd);
    if (!written || ::rename(scratch.constData(), name.constData()) != 0) {
        const int renameCode = written ? errno : code;
        ::unlink(scratch.constData());
        *error = QStringLiteral("cannot write \"%1\": %2").arg(path, systemError(renameCode));
        return false;
    }
    if (!syncFolderOf(name)) {
        *error = QStringLiteral("\"%1\" was written, but its folder could not be synced: %2")
                     .arg(path, systemError(errno));
        return false;
    }
    return true;
}

} // namespace FileSystem
