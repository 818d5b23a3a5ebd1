#pragma once

#include <QByteArray>
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

// Appends `record` to the file `path` in one write, creating it (0600) when
// missing. A symbolic link at `path` is refused, never followed; a write that
// could not be completed is taken back, so the file gains the record whole or
// not at all. False, with `error` set, when nothing was appended.
bool appendRecord(const QString &path, const QByteArray &record, QString *error);

// Replaces the file `path` with `contents` in one step: the new contents go to
// a file created exclusively beside it, which is then renamed over it. A
// symbolic link at `path` is refused, never followed; a new file gets mode
// 0600, an existing one keeps its mode. False, with `error` set, on failure.
bool writeWhole(const QString &path, const QByteArray &contents, QString *error);

} // namespace FileSystem
