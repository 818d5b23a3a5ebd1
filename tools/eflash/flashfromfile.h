#pragma once

#include "ethernetflasher.h"
#include "flashreport.h"

#include <string>

// Reads the image at `imagePath`, names it to the boot loader by its file
// name, and flashes it. The exit code: 0 flashed, 1 failed (with its ERROR
// line already printed).
int flashFromFile(FlashSettings settings, const std::string &imagePath, FlashReport &report);
