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
    // The rollout's limits and memory.
    int canary = 1;
    // Failures tolerated before no further device starts: a count, or a
    // percentage (rounded down) of the devices to flash.
    int maxFailures = 10;
    bool maxFailuresIsPercent = true;
    bool reinstall = false;
    QString historyFile; // empty: zudiruv-history.jsonl in the working folder
    // The report to standard output, the human lines to standard error.
    bool json = false;
};

// What --max-failures allows for `devices` devices to flash.
int failureBudget(const FleetOptions &options, int devices);

// On --help prints the usage and sets `exitCode` 0; on a usage error prints
// it and sets 2; returns false in both cases, true when the program should
// go on.
bool parseFleetOptions(int argc, const char *const *argv, FleetOptions *options, int *exitCode);
