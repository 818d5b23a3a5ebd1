#pragma once

#include <QString>

class QFile;

// The few file operations whose safe form differs between Windows and POSIX.
// Paths are handed to the system as UTF-8 bytes on POSIX systems.
namespace FileSystem {

// Opens `path` read-only, refusing anything but a regular file; a FIFO or a
// device is refused without blocking on it.
bool openRegularForReading(QFile &file, const QString &path);

// Moves `from` over `to` in one step, replacing a file or a link called `to`
// without following it.
bool replace(const QString &from, const QString &to);

// Removes the file or link called `path`; failures are ignored.
void remove(const QString &path);

} // namespace FileSystem
