#pragma once

#include <string>

// A Windows error code as the system's own text, with the code after it.
std::string windowsErrorText(unsigned long code);
