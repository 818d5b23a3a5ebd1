#pragma once

#include <QCoreApplication>

// Qt's objects expect an application object; one lives for the whole run.
inline void startQtApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}
