#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <string>

#include <windows.h>

namespace FileSystem {

namespace {

std::wstring wideName(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString lastErrorText()
{
    return qt_error_string(int(GetLastError()));
}

// A regular file, checked on the open handle: no directory, no device and
// no reparse point (symbolic link, junction).
bool isPlainFile(HANDLE file, const QString &path, QString *error)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, lastErrorText());
        return false;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        *error = QStringLiteral("\"%1\" is a link; it is not followed").arg(path);
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(file) != FILE_TYPE_DISK) {
        *error = QStringLiteral("\"%1\" is not a regular file").arg(path);
        return false;
    }
    return true;
}

bool writeAll(HANDLE file, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(qMin<qint64>(left, 1 << 30));
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

// As on POSIX: an empty file counts as ended, an unreadable one as not.
bool endsWithLineEnd(HANDLE file, LONGLONG size)
{
    if (size == 0)
        return true;
    OVERLAPPED at{};
    at.Offset = DWORD(quint64(size - 1) & 0xffffffffu);
    at.OffsetHigh = DWORD(quint64(size - 1) >> 32);
    char last = 0;
    DWORD read = 0;
    return ReadFile(file, &last, 1, &read, &at) && read == 1 && last == '\n';
}

} // namespace

bool openRegularForReading(QFile &file, const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)) || !QFileInfo(path).isFile())
        return false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly);
}

// Windows will not replace or free the name of a file that is open, even
// where its reader (a virus scanner looking at the last image, a viewer)
// allows deleting it; a deleted file keeps its name until it is closed. Such
// a file can still be renamed: it steps aside under a fresh name, and the
// delete there takes effect once its reader closes it.
namespace {

std::wstring asideName(const std::wstring &target)
{
    return target + L"." + QString::number(QRandomGenerator::global()->generate(), 16).toStdWString() + L".old";
}

} // namespace

bool replace(const QString &from, const QString &to)
{
    const std::wstring source = wideName(from);
    const std::wstring target = wideName(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)
        return false;
    const std::wstring aside = asideName(target);
    if (!MoveFileExW(target.c_str(), aside.c_str(), 0))
        return false;
    if (!MoveFileExW(source.c_str(), target.c_str(), 0)) {
        MoveFileExW(aside.c_str(), target.c_str(), 0);
        return false;
    }
    DeleteFileW(aside.c_str());
    return true;
}

void remove(const QString &path)
{
    const std::wstring target = wideName(path);
    const std::wstring aside = asideName(target);
    if (MoveFileExW(target.c_str(), aside.c_str(), 0))
        DeleteFileW(aside.c_str());
    else
        DeleteFileW(target.c_str());
}

bool appendRecord(const QString &path, const QByteArray &record, QString *error)
{
    if (path.isEmpty() || path.contains(QChar(0))) {
        *error = QStringLiteral("\"%1\" is no usable file name").arg(path);
        return false;
    }
    // Append-only access: every write lands at the end, also between other
    // writers' lines. Opened as the name itself, never through a link.
    const HANDLE file = CreateFileW(wideName(path).c_str(),
                                    FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot open \"%1\": %2").arg(path, lastErrorText());
        return false;
    }
    bool appended = false;
    LARGE_INTEGER size{};
    if (!isPlainFile(file, path, error)) {
        // `error` says why.
    } else if (!GetFileSizeEx(file, &size)) {
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, lastErrorText());
    } else if (!writeAll(file, endsWithLineEnd(file, size.QuadPart) ? record : '\n' + record)) {
        // Never cut the file back: another writer may have appended a line
        // meanwhile. The torn rest is ended by the next record's line end.
        *error = QStringLiteral("cannot append to \"%1\": %2").arg(path, lastErrorText());
    } else {
        appended = true;
    }
    CloseHandle(file);
    return appended;
}

bool writeWhole(const QString &path, const QByteArray &contents, QString *error)
{
    if (path.isEmpty() || path.contains(QChar(0))) {
        *error = QStringLiteral("\"%1\" is no usable file name").arg(path);
        return false;
    }
    const std::wstring name = wideName(path);
    // The name itself is looked at through a handle, not followed: a link or
    // junction put there is refused. One put there later is replaced by the
    // rename below, which never writes through it.
    const HANDLE existing = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        const bool plain = isPlainFile(existing, path, error);
        CloseHandle(existing);
        if (!plain)
            return false;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        *error = QStringLiteral("cannot open \"%1\": %2").arg(path, lastErrorText());
        return false;
    }

    HANDLE scratch = INVALID_HANDLE_VALUE;
    std::wstring scratchName;
    for (int attempt = 0; attempt < 100 && scratch == INVALID_HANDLE_VALUE; ++attempt) {
        scratchName = name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
        scratch = CreateFileW(scratchName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
        if (scratch == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (scratch == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot create a file beside \"%1\": %2").arg(path, lastErrorText());
        return false;
    }
    const bool written = writeAll(scratch, contents) && FlushFileBuffers(scratch);
    const QString writeError = lastErrorText();
    CloseHandle(scratch);
    if (!written || !MoveFileExW(scratchName.c_str(), name.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(path, written ? lastErrorText() : writeError);
        DeleteFileW(scratchName.c_str());
        return false;
    }
    return true;
}

} // namespace FileSystem
