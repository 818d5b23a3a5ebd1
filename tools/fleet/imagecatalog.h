#pragma once

#include <QHash>
#include <QString>

// The firmware images of a folder, each known by the kind letter of its
// trailer and staged without the trailer, as the screen's image check
// stages one. Two images for one letter are an error: which one a device
// would get must never depend on the order of a folder listing.
class ImageCatalog
{
public:
    struct Image
    {
        QString path;
        QString fileName;
        QString sha256;     // of the whole file, trailer included
        QString stagedPath; // the image without its trailer
    };

    // Reads every *.bin file in `folder`, staging into `stagingFolder`.
    // False, with `error` set, on two images for one letter or an unreadable folder.
    bool load(const QString &folder, const QString &stagingFolder, QString *error);

    const Image *forLetter(const QString &letter) const;
    // Files that carry no Velquor trailer, for a warning.
    QStringList ignored() const { return m_ignored; }
    int size() const { return m_images.size(); }

private:
    QHash<QString, Image> m_images;
    QStringList m_ignored;
};
