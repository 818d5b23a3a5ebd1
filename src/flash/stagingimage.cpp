#include "flash/stagingimage.h"

#include "platform/filesystem.h"

#include <QByteArray>
#include <QCryptographicHash>
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

bool copyPrefix(QFile &image, qint64 length, QFile &target, QCryptographicHash *hash)
{
    if (!image.seek(0))
        return false;
    QByteArray block(int(qMin(copyBlockSize, qMax<qint64>(length, 1))), Qt::Uninitialized);
    for (qint64 done = 0; done < length;) {
        const qint64 wanted = qMin<qint64>(block.size(), length - done);
        const qint64 got = image.read(block.data(), wanted);
        if (got != wanted)
            return false; // a read error, or the file shrank while we read it
        if (target.write(block.constData(), got) != got)
            return false;
        if (hash)
            hash->addData(block.constData(), int(got));
        done += got;
    }
    return target.flush();
}

} // namespace

namespace StagingImage {

bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath)
{
    return stage(firmware, expectedTrailer, stagingPath, nullptr);
}

QString trailer(const QString &firmware)
{
    QFile image;
    if (!FileSystem::openRegularForReading(image, firmware))
        return QString();
    return readTrailer(image, image.size());
}

bool stage(const QString &firmware, const QString &expectedTrailer, const QString &stagingPath, QByteArray *sha256)
{
    QFile image;
    if (!FileSystem::openRegularForReading(image, firmware))
        return false;
    const qint64 size = image.size();
    if (readTrailer(image, size) != expectedTrailer)
        return false;

    // Written beside the staging file under a fresh name and moved into place
    // only when complete: a partial image never carries the staging name, and
    // a link planted under that name is replaced, not written through.
    QTemporaryFile staging(stagingPath + QStringLiteral(".XXXXXX"));
    if (!staging.open())
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const qint64 prefix = qMax<qint64>(0, size - trailerSize);
    if (!copyPrefix(image, prefix, staging, sha256 ? &hash : nullptr))
        return false;
    if (sha256) {
        const QByteArray rest = image.read(size - prefix);
        if (rest.size() != size - prefix)
            return false;
        hash.addData(rest);
        *sha256 = hash.result().toHex();
    }
    staging.close();
    if (staging.error() != QFileDevice::NoError)
        return false;
    if (!FileSystem::replace(staging.fileName(), stagingPath))
        return false;
    staging.setAutoRemove(false);
    return true;
}

void remove(const QString &stagingPath)
{
    FileSystem::remove(stagingPath);
}

} // namespace StagingImage
