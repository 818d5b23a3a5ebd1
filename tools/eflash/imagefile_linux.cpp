#include "imagefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

struct FileCloser
{
    int fd;
    ~FileCloser() { close(fd); }
};

}

std::optional<std::vector<std::uint8_t>> readImageFile(const std::string &path, std::size_t limit,
                                                       std::string *error)
{
    // Non-blocking, so a FIFO cannot hold us waiting for a writer; the type
    // is checked on the open file, so a swap after the check cannot fool us.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *error = std::string(std::strerror(errno));
        return std::nullopt;
    }
    const FileCloser closer{fd};
    struct stat status{};
    if (fstat(fd, &status) != 0) {
        *error = std::string(std::strerror(errno));
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        *error = S_ISDIR(status.st_mode) ? "it is a directory" : "it is not a regular file";
        return std::nullopt;
    }
    if (static_cast<unsigned long long>(status.st_size) > limit) {
        *error = "it has " + std::to_string(status.st_size) + " bytes; TFTP can carry at most "
            + std::to_string(limit);
        return std::nullopt;
    }

    // One byte more than the size seen, to notice a file that grew since.
    std::vector<std::uint8_t> image(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t filled = 0;
    while (filled < image.size()) {
        const ssize_t count = read(fd, image.data() + filled, image.size() - filled);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *error = std::string(std::strerror(errno));
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += static_cast<std::size_t>(count);
    }
    if (filled != static_cast<std::size_t>(status.st_size)) {
        *error = "it changed while being read";
        return std::nullopt;
    }
    image.resize(filled);
    return image;
}

std::string imageFileRefusal(const std::string &path, std::size_t limit)
{
    struct stat status{};
    if (stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return "it is a directory";
    if (!S_ISREG(status.st_mode))
        return "it is not a regular file";
    if (static_cast<unsigned long long>(status.st_size) > limit)
        return "it has " + std::to_string(status.st_size) + " bytes; TFTP can carry at most " + std::to_string(limit);
    return {};
}

std::string imageFileName(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
