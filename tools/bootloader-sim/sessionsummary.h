#pragma once

#include "bootloadersim.h"

#include <string>
#include <vector>

// How bootloader-sim reports a session: a key=value summary on standard
// output, the image in a file, the outcome as exit code.
void printSummary(const BootLoaderSim::Result &result);
bool writeImage(const std::string &path, const std::vector<std::uint8_t> &image);
int exitCodeOf(BootLoaderSim::Result::Outcome outcome);
