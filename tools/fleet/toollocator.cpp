#include "toollocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString locateTool(const QString &fileName)
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    const QString installedTools = QDir(programFolder).filePath(QStringLiteral(ZUDIRUV_INSTALLED_TOOLS_FROM_PROGRAM));
    for (const QString &folder : {QDir::currentPath(), programFolder, installedTools}) {
        const QFileInfo candidate(QDir(folder).filePath(fileName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QString();
}
