#include "flash/stagingimage.h"

#include "flash/blockhasher.h"
#include "platform/filesystem.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

namespace {

constexpr qint64 trailerSize = 4;
constexpr qint64 copyBlockSize = 1 << 20;

// Read as the devices' tooling has always read it: at most four bytes from
// four before the end (from the start of a shorter file), cut after a line
// feed and at the first zero byte.
QString readTrailer(QFile &image, qint64 size)
{
    if (!image.seek(size >= trailerSize ? size - trailerSize : 0))
        return QString();
    QByteArray bytes = image.read(trailerSize);
    const int lineFeed = bytes.indexOf('\n');
    if (lineFeed >= 0)
        bytes.truncate(lineFeed + 1);
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

bool copyPrefix(QFile &image, qint64 length, QFile &target, BlockHasher &hash)
{
    if (!image.seek(0))
        return false;
    for (qint64 done = 0; done < length;) {
        char *block = hash.nextBlock();
        const qint64 wanted = qMin<qint64>(qint64(hash.blockSize()), length - done);
        const qint64 got = image.read(block, wanted);
        if (got != wanted)
            return false; // a read error, or the file shrank while we read it
        hash.hashNextBlock(std::size_t(got));
        if (target.write(block, got) != got)
            return false;
        done += got;
    }
    return target.flush();
}

} // namespace

namespace StagingImage {

bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath,
           QString *sha256)
{
    if (sha256)
        sha256->clear();
    QFile image;
    if (!FileSystem::openRegularForReading(image, firmware))
        return false;
    const qint64 size = image.size();
    if (readTrailer(image, size) != expectedTrailer)
        return false;

    // Written beside the staging file under a fresh name and moved into place
    // only when complete: a partial image never carries the staging name, and
    // a link planted under that name is replaced, not written through.
    const qint64 bodySize = qMax<qint64>(0, size - trailerSize);
    BlockHasher hash(std::size_t(qBound(trailerSize, bodySize, copyBlockSize)));
    QString written;
    {
        QTemporaryFile staging(stagingPath + QStringLiteral(".XXXXXX"));
        if (!staging.open())
            return false;
        // The hash is taken while the copy reads the file anyway; the
        // trailer, read before, is added at the end.
        if (!copyPrefix(image, bodySize, staging, hash))
            return false;
        const qint64 rest = image.read(hash.nextBlock(), size - bodySize);
        if (rest != size - bodySize)
            return false;
        hash.hashNextBlock(std::size_t(rest));
        staging.close();
        if (staging.error() != QFileDevice::NoError)
            return false;
        staging.setAutoRemove(false);
        written = staging.fileName();
    }
    // Moved only now: a temporary file keeps its handle until it is gone,
    // and Windows moves no file that is still open.
    if (!FileSystem::replace(written, stagingPath)) {
        FileSystem::remove(written);
        return false;
    }
    if (sha256)
        *sha256 = QString::fromStdString(hash.hexDigest());
    return true;
}

QString trailer(const QString &firmware)
{
    QFile image;
    if (!FileSystem::openRegularForReading(image, firmware))
        return QString();
    return readTrailer(image, image.size());
}

void remove(const QString &stagingPath)
{
    FileSystem::remove(stagingPath);
}

} // namespace StagingImage
