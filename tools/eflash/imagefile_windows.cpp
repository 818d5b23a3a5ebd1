#include "imagefile.h"

#include "windowserror.h"

#include <windows.h>

namespace {

struct HandleCloser
{
    HANDLE handle;
    ~HandleCloser() { CloseHandle(handle); }
};

// Opens `path` and checks the open handle, so that a swap after the check
// cannot fool us: a regular file of at most `limit` bytes. Backup semantics
// so that a directory opens too and can be named as such.
HANDLE openImage(const std::string &path, DWORD access, std::size_t limit, unsigned long long *size,
                 std::string *error)
{
    // The command line came as UTF-8; the wide call opens any name.
    const std::wstring widePath = wide(path);
    if (widePath.empty()) {
        *error = "the name is not valid text";
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = CreateFileW(widePath.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = windowsErrorText(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information))
        *error = "it is not a regular file";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        *error = "it is a directory";
    *size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (error->empty() && *size > limit)
        *error = "it has " + std::to_string(*size) + " bytes; TFTP can carry at most " + std::to_string(limit);
    if (!error->empty()) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}

std::optional<std::vector<std::uint8_t>> readImageFile(const std::string &path, std::size_t limit,
                                                       std::string *error)
{
    unsigned long long size = 0;
    error->clear();
    const HANDLE file = openImage(path, GENERIC_READ, limit, &size, error);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const HandleCloser closer{file};

    // One byte more than the size seen, to notice a file that grew since.
    std::vector<std::uint8_t> image(static_cast<std::size_t>(size) + 1);
    std::size_t filled = 0;
    while (filled < image.size()) {
        DWORD count = 0;
        if (!ReadFile(file, image.data() + filled, static_cast<DWORD>(image.size() - filled), &count, nullptr)) {
            *error = windowsErrorText(GetLastError());
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += count;
    }
    if (filled != size) {
        *error = "it changed while being read";
        return std::nullopt;
    }
    image.resize(filled);
    return image;
}

std::string imageFileRefusal(const std::string &path, std::size_t limit)
{
    // Opened for its attributes only: nothing is read yet.
    unsigned long long size = 0;
    std::string refusal;
    const HANDLE file = openImage(path, FILE_READ_ATTRIBUTES, limit, &size, &refusal);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return refusal;
}

std::string imageFileName(const std::string &path)
{
    const std::size_t separator = path.find_last_of("/\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
