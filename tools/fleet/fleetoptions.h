#pragma once

#include <QString>
#include <QStringList>

// The command line, read and checked before anything goes on the network.
struct FleetOptions
{
    enum class Command { Scan, Update };

    Command command = Command::Scan;
    QStringList targets;
    QString imagesDir;
    QString passwordFile;
    QString reportFile;
    bool dryRun = false;
    bool yes = false;
    int parallel = 8;
    int verifySeconds = 180;
};

// On --help prints the usage and sets `exitCode` 0; on a usage error prints
// it and sets 2; returns false in both cases, true when the program should
// go on.
bool parseFleetOptions(int argc, const char *const *argv, FleetOptions *options, int *exitCode);
