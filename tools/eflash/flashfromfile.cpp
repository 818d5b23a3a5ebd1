#include "flashfromfile.h"

#include "imagefile.h"

int flashFromFile(FlashSettings settings, const std::string &imagePath, FlashReport &report)
{
    std::string error;
    auto image = readImageFile(imagePath, EthernetFlasher::maximumImageSize, &error);
    if (!image) {
        report.error("cannot read the image " + imagePath + ": " + error);
        return 1;
    }
    settings.image = std::move(*image);
    const std::size_t slash = imagePath.find_last_of('/');
    settings.bootFile = slash == std::string::npos ? imagePath : imagePath.substr(slash + 1);

    EthernetFlasher flasher(std::move(settings), report);
    return flasher.run() ? 0 : 1;
}
