#include "platform/filesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <windows.h>

namespace FileSystem {

namespace {

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString systemError(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("error");
    LocalFree(text);
    return QStringLiteral("%1 (%2)").arg(message).arg(code);
}

bool usablePath(const QString &path, QString *error)
{
    if (path.isEmpty() || path.contains(QChar(0))) {
        *error = QStringLiteral("\"%1\" is no usable file name").arg(path);
        return false;
    }
    return true;
}

bool isLink(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

QString linkRefusal(const QString &path)
{
    return QStringLiteral("\"%1\" is a link; it is not followed").arg(path);
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
    const std::wstring source = nativePath(from);
    const std::wstring target = nativePath(to);
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
    const std::wstring target = nativePath(path);
    const std::wstring aside = asideName(target);
    if (MoveFileExW(target.c_str(), aside.c_str(), 0))
        DeleteFileW(aside.c_str());
    else
        DeleteFileW(target.c_str());
}

bool appendRecord(const QString &path, const QByteArray &record, QString *error)
{
    if (!usablePath(path, error))
        return false;
    if (isLink(path)) {
        *error = linkRefusal(path);
        return false;
    }
    // Append access alone makes every write land at the end of the file as
    // it is then, so records of two writers never overwrite each other.
    const std::wstring name = nativePath(path);
    const HANDLE file = CreateFileW(name.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot open \"%1\": %2").arg(path, systemError(GetLastError()));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER before;
    DWORD written = 0;
    bool appended = false;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        || !GetFileSizeEx(file, &before)) {
        *error = QStringLiteral("\"%1\" is not a regular file").arg(path);
    } else if (!WriteFile(file, record.constData(), DWORD(record.size()), &written, nullptr)
               || written != DWORD(record.size())) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        // A record cut short would leave half a line for every later reader;
        // cutting it off needs write access, which appending alone lacks.
        const HANDLE writable = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (writable != INVALID_HANDLE_VALUE) {
            if (SetFilePointerEx(writable, before, nullptr, FILE_BEGIN))
                SetEndOfFile(writable);
            CloseHandle(writable);
        }
        *error = QStringLiteral("cannot append to \"%1\": %2").arg(path, systemError(code));
        return false;
    } else {
        appended = true;
    }
    CloseHandle(file);
    return appended;
}

bool writeWhole(const QString &path, const QByteArray &contents, QString *error)
{
    if (!usablePath(path, error))
        return false;
    if (isLink(path)) {
        *error = linkRefusal(path);
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
