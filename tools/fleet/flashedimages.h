#pragma once

#include <QHash>
#include <QString>

// What the flash history says each device holds. The devices report their
// hardware generation, never their firmware version, so our own record of
// what was flashed is all there is: a device (by MAC) holds an image when its
// latest flash was a complete one with that image. A line that cannot be read
// (torn by a crash, or another program's) is skipped, wherever it lies.
class FlashedImages
{
public:
    struct Flash
    {
        QString sha256;
        QString image;
        QString time;
    };

    // A missing file is an empty history; false, with `error` set, only when
    // an existing one cannot be read.
    bool load(const QString &path, QString *error);

    // The complete flash `mac` last took, or nullptr when its latest flash
    // failed or it has none. A MAC of all zeros names no device.
    const Flash *currentOf(const QString &mac) const;
    int unreadableLines() const { return m_unreadable; }

private:
    // Per MAC, the latest flash; an empty sha256 for one that was not complete.
    QHash<QString, Flash> m_latest;
    int m_unreadable = 0;
};
