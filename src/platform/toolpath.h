#pragma once

#include <QString>

// The external tools are taken from the current working directory, not from
// the program's own folder: service staff run the program from the folder
// that holds arpping.exe and eflash.exe. Windows wants ".\", everything else
// "./"; the tools keep their Windows file names everywhere.
inline QString toolProgram(const QString &fileName)
{
#ifdef Q_OS_WIN
    return QStringLiteral(".\\") + fileName;
#else
    return QStringLiteral("./") + fileName;
#endif
}
