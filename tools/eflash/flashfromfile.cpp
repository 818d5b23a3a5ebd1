#include "flashfromfile.h"

#include "fleetflasher.h"
#include "imagefile.h"
#include "privileges.h"
#include "reportobserver.h"

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
        const std::string refusal = imageFileRefusal(request.imagePath, FleetFlasher::maximumImageSize);
        if (!refusal.empty()) {
            // Only this device is left out.
            report.error("cannot read the image " + request.imagePath + ": " + refusal);
            allRead = false;
            continue;
        }
        FlashTarget target;
        target.device = request.device;
        target.mac = request.mac;
        target.bootFile = imageFileName(request.imagePath);
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
