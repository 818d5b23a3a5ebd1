#pragma once

#include <QString>

// Where the fleet tool finds arpping.exe and eflash.exe: in the working
// directory first, as the screen does (service staff run it from the folder
// holding the tools), else next to the program itself (a build's bin/),
// else where the package installs them. Empty when none has it.
QString locateTool(const QString &fileName);
