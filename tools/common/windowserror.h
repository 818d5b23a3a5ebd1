#pragma once

#include <string>

// A Windows error code as the system's own text, with the code after it.
std::string windowsErrorText(unsigned long code);

// A wide (UTF-16) text of the system's as UTF-8.
std::string utf8(const wchar_t *text);
