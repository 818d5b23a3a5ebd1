#include "toollocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString locateTool(const QString &fileName)
{
    for (const QString &folder : {QDir::currentPath(), QCoreApplication::applicationDirPath()}) {
        const QFileInfo candidate(QDir(folder).filePath(fileName));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QString();
}
