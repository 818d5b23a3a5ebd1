#include "flashfromfile.h"

#include "fleetflasher.h"
#include "imagefile.h"
#include "privileges.h"
#include "reportobserver.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace {

// What can be told about an image from its entry alone, before the ports
// are opened: a run that cannot flash it then sends nothing at all. The
// bytes are read only once the privileges are gone.
std::string imageRefusal(const std::string &path)
{
    struct stat status{};
    if (stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return "it is a directory";
    if (!S_ISREG(status.st_mode))
        return "it is not a regular file";
    if (static_cast<unsigned long long>(status.st_size) > FleetFlasher::maximumImageSize)
        return "it has " + std::to_string(status.st_size) + " bytes; TFTP can carry at most "
            + std::to_string(FleetFlasher::maximumImageSize);
    return {};
}

std::string bootFileOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}

int flashFromFiles(const std::vector<FlashRequest> &requests, std::chrono::milliseconds bootLoaderWait,
                   bool verbose)
{
    const bool several = requests.size() > 1;
    std::vector<FlashReport> reports;
    std::vector<FlashTarget> targets;
    std::vector<std::string> paths;
    bool allRead = true;
    for (const FlashRequest &request : requests) {
        FlashReport report(verbose, several ? addressText(request.device) + ": " : std::string());
        if (const std::string refusal = imageRefusal(request.imagePath); !refusal.empty()) {
            // Only this device is left out.
            report.error("cannot read the image " + request.imagePath + ": " + refusal);
            allRead = false;
            continue;
        }
        FlashTarget target;
        target.device = request.device;
        target.mac = request.mac;
        target.bootFile = bootFileOf(request.imagePath);
        targets.push_back(std::move(target));
        reports.push_back(std::move(report));
        paths.push_back(request.imagePath);
    }
    if (targets.empty())
        return 1;
    ReportObserver observer(reports);
    FleetFlasher flasher(std::move(targets), bootLoaderWait, observer);
    if (!flasher.openLink())
        return 1;
    std::string error;
    if (!dropPrivileges(&error)) {
        for (std::size_t i = 0; i < paths.size(); ++i)
            flasher.leaveOut(i, error);
        return 1;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        auto image = readImageFile(paths[i], FleetFlasher::maximumImageSize, &error);
        if (image)
            flasher.setImage(i, std::move(*image));
        else
            flasher.leaveOut(i, "cannot read the image " + paths[i] + ": " + error);
    }
    return flasher.run() && allRead ? 0 : 1;
}
