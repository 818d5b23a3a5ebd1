#pragma once

#include <QString>

// Six pairs of hex digits joined by ":" or "-", as the screen accepts a MAC.
bool isMacAddressText(const QString &text);
