#pragma once

#include <string>

// A Windows error code as the system's own text, with the code after it.
std::string windowsErrorText(unsigned long code);

// A wide (UTF-16) text of the system's as UTF-8.
std::string utf8(const wchar_t *text);
// UTF-8 (a command line's, a name's) for the system's wide calls; empty where
// it is not valid UTF-8, so that no other name than the one given is used.
std::wstring wide(const std::string &text);
