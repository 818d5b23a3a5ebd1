#include "imagecatalog.h"

#include "flash/stagingimage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace {

QString sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

bool ImageCatalog::load(const QString &folder, const QString &stagingFolder, QString *error)
{
    const QDir dir(folder);
    if (!dir.exists()) {
        *error = QStringLiteral("image folder \"%1\" does not exist").arg(folder);
        return false;
    }
    const QStringList files = dir.entryList({QStringLiteral("*.bin")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &fileName : files) {
        const QString path = dir.absoluteFilePath(fileName);
        bool matched = false;
        for (char letter = 'A'; letter <= 'G' && !matched; ++letter) {
            const QString letterText = QString(QLatin1Char(letter));
            const QString staged = QDir(stagingFolder).filePath(QStringLiteral("%1-%2").arg(letterText, fileName));
            // The one trailer check of the program decides, letter by letter;
            // a wrong letter fails on the trailer before anything is copied.
            if (!StagingImage::stage(path, QStringLiteral("ODL") + letterText, staged))
                continue;
            matched = true;
            if (const Image *earlier = forLetter(letterText)) {
                *error = QStringLiteral("two images for kind letter %1 in \"%2\": %3 and %4; keep one")
                             .arg(letterText, folder, earlier->fileName, fileName);
                return false;
            }
            m_images.insert(letterText, Image{path, fileName, sha256Of(path), staged});
        }
        if (!matched)
            m_ignored.append(fileName);
    }
    return true;
}

const ImageCatalog::Image *ImageCatalog::forLetter(const QString &letter) const
{
    const auto found = m_images.constFind(letter);
    return found == m_images.constEnd() ? nullptr : &*found;
}
