#include "imagecatalog.h"

#include "flash/stagingimage.h"

#include <QDir>

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
        // The trailer names the one letter to check it against, so each
        // file is staged, and read, once.
        const QString trailer = StagingImage::trailer(path);
        const QString letter = trailer.size() == 4 && trailer.startsWith(QLatin1String("ODL")) ? trailer.right(1) : QString();
        QString sha256;
        const QString staged = QDir(stagingFolder).filePath(QStringLiteral("%1-%2").arg(letter, fileName));
        if (letter.isEmpty() || letter < QLatin1String("A") || letter > QLatin1String("G")
            || !StagingImage::stage(path, trailer, staged, &sha256)) {
            m_ignored.append(fileName);
            continue;
        }
        if (const Image *earlier = forLetter(letter)) {
            *error = QStringLiteral("two images for kind letter %1 in \"%2\": %3 and %4; keep one")
                         .arg(letter, folder, earlier->fileName, fileName);
            return false;
        }
        m_images.insert(letter, Image{path, fileName, sha256, staged});
    }
    return true;
}

const ImageCatalog::Image *ImageCatalog::forLetter(const QString &letter) const
{
    const auto found = m_images.constFind(letter);
    return found == m_images.constEnd() ? nullptr : &*found;
}
