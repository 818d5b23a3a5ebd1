#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

bool appendRecord(const QString &path, const QByteArray &record, QString *error)
{
    if (QFileInfo(path).isSymLink()) {
        *error = QStringLiteral("\"%1\" is a link; it is not followed").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    const qint64 before = file.size();
    if (file.write(record) != record.size() || !file.flush()) {
        file.resize(before);
        *error = QStringLiteral("cannot append to \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool writeWhole(const QString &path, const QByteArray &contents, QString *error)
{
    if (QFileInfo(path).isSymLink()) {
        *error = QStringLiteral("\"%1\" is a link; it is not followed").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit()) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace FileSystem
