#pragma once

#include "bootloadersim.h"

#include <string>

// Thrown inside a boot-loader session to end it; never leaves the class.
struct SessionEnd
{
    BootLoaderSim::Result::Outcome outcome;
    std::string reason;
};
