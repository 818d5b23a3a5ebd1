#pragma once

#include <QByteArray>
#include <QString>

// One line of eflash.exe's standard output, as the screen and the fleet tool
// both read it: a "Complete:" progress line, an "ERROR" line, or neither. In
// a run for several devices every line starts with the device's address
// ("10.0.5.7: % Complete: 40%"); readForDevice() takes that prefix off first.
struct FlasherOutputLine
{
    QString address;      // the prefix's address; empty when there was none
    QString text;         // the rest of the line, trimmed
    bool hasProgress = false;
    int percent = 0;      // as printed; 0 when the field holds no number
    bool isError = false;
    // The flasher's "ERROR: unconfirmed:" line: every block went out, only
    // the last one's acknowledgement never came, so the device may well have
    // taken the whole image.
    bool isUnconfirmed = false;

    // A line of a one-device run.
    static FlasherOutputLine read(const QByteArray &rawLine);
    // A line of a several-devices run.
    static FlasherOutputLine readForDevice(const QByteArray &rawLine);
};
