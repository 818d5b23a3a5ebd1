#include "toollocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// `real` and every folder above it, each as it stands (no links left).
QString unsafeChainReason(const QString &real)
{
    for (QString at = real;; at = QFileInfo(at).path()) {
        struct stat status {};
        if (::lstat(QFile::encodeName(at).constData(), &status) != 0)
            return QStringLiteral("cannot check %1").arg(at);
        if (status.st_uid != 0 && status.st_uid != ::getuid())
            return QStringLiteral("%1 belongs to another user (uid %2)").arg(at).arg(status.st_uid);
        const bool othersMayWrite = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        const bool stickyOfRoot = S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) && status.st_uid == 0;
        if (othersMayWrite && !stickyOfRoot)
            return QStringLiteral("%1 is writable by group or others").arg(at);
        if (at == QLatin1String("/"))
            return QString();
    }
}

} // namespace

QString unsafePathReason(const QString &path)
{
    const QFileInfo entry(path);
    const QString real = entry.canonicalFilePath();
    if (real.isEmpty())
        return QStringLiteral("%1 does not exist").arg(path);
    // A link is only as safe as the folder it lies in, and its target.
    const QString folderReason = unsafeChainReason(QFileInfo(entry.absolutePath()).canonicalFilePath());
    return folderReason.isEmpty() ? unsafeChainReason(real) : folderReason;
}

LocatedTool locateTool(const QString &fileName)
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString installedTools = QDir(programFolder).filePath(QStringLiteral(ZUDIRUV_INSTALLED_TOOLS_FROM_PROGRAM));
    for (const QString &folder : {programFolder, installedTools}) {
        const QFileInfo candidate(QDir(folder).filePath(fileName));
        if (!candidate.exists())
            continue;
        const QString path = QDir::cleanPath(candidate.absoluteFilePath());
        const QString unsafe = unsafePathReason(path);
        if (!unsafe.isEmpty())
            return {QString(), QStringLiteral("refusing %1: %2").arg(path, unsafe)};
        if (!candidate.isFile() || !candidate.isExecutable())
            return {QString(), QStringLiteral("%1 is not an executable file").arg(path)};
        return {path, QString()};
    }
    return {QString(), QStringLiteral("%1 not found next to the program (%2) or in %3")
                           .arg(fileName, programFolder, QDir::cleanPath(installedTools))};
}

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ZUDIRUV_PASSWORD"));
    return environment;
}
