#include "flashfromfile.h"

#include "fleetflasher.h"
#include "imagefile.h"
#include "reportobserver.h"

int flashFromFiles(const std::vector<FlashRequest> &requests, std::chrono::milliseconds bootLoaderWait,
                   bool verbose)
{
    const bool several = requests.size() > 1;
    std::vector<FlashReport> reports;
    std::vector<FlashTarget> targets;
    bool allRead = true;
    for (const FlashRequest &request : requests) {
        FlashReport report(verbose, several ? addressText(request.device) + ": " : std::string());
        std::string error;
        auto image = readImageFile(request.imagePath, FleetFlasher::maximumImageSize, &error);
        if (!image) {
            // Only this device is left out.
            report.error("cannot read the image " + request.imagePath + ": " + error);
            allRead = false;
            continue;
        }
        FlashTarget target;
        target.device = request.device;
        target.mac = request.mac;
        target.image = std::move(*image);
        target.bootFile = imageFileName(request.imagePath);
        targets.push_back(std::move(target));
        reports.push_back(std::move(report));
    }
    if (targets.empty())
        return 1;
    ReportObserver observer(reports);
    FleetFlasher flasher(std::move(targets), bootLoaderWait, observer);
    return flasher.run() && allRead ? 0 : 1;
}
