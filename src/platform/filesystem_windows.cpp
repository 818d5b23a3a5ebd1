#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

namespace FileSystem {

bool openRegularForReading(QFile &file, const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}

bool replace(const QString &from, const QString &to)
{
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove(const QString &path)
{
    QFile::remove(path);
}

} // namespace FileSystem
