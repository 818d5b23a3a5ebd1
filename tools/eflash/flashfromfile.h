#pragma once

#include "macaddress.h"

#include "socketapi.h"

#include <chrono>
#include <string>
#include <vector>

struct FlashRequest
{
    in_addr device{};
    MacAddress mac{};
    std::string imagePath;
};

// Reads each image, names it to the boot loader by its file name, and
// flashes all devices in one run. With more than one device every output
// line starts with the device's address. The exit code: 0 when every device
// was flashed, 1 otherwise (each failure with its ERROR line).
int flashFromFiles(const std::vector<FlashRequest> &requests, std::chrono::milliseconds bootLoaderWait,
                   bool verbose);
