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
// missing. A symbolic link at `path` is refused, never followed. The file is
// never cut back, since other writers may append to it too: a write cut short
// leaves a torn last line, and the next record starts on a line of its own,
// so a reader that skips unparsable lines loses only that fragment. False,
// with `error` set, when the record was not appended whole.
bool appendRecord(const QString &path, const QByteArray &record, QString *error);

// Replaces the file `path` with `contents` in one step: the new contents go to
// a file created exclusively beside it, which is then renamed over it. A
// symbolic link (on Windows any reparse point) at `path` is refused, never
// followed; a new file gets mode 0600, an existing one keeps its permission
// bits (not set-user-ID or set-group-ID). The file and its folder are synced,
// so that a crash leaves the old file or the new one. False, with `error`
// set, on failure.
bool writeWhole(const QString &path, const QByteArray &contents, QString *error);

} // namespace FileSystem
