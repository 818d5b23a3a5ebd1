#pragma once

#include <QString>

// A MAC address as the tools read one; what eflash.exe is then given.
bool isMacAddressText(const QString &text);
