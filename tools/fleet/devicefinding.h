#pragma once

#include <QString>

// What a scan learnt about one Velquor device. The password stays in memory
// for the upload and the check after the flash; it is never printed.
struct DeviceFinding
{
    enum class State { Found, WantsPassword, KindUnknown };

    quint32 address = 0;
    State state = State::Found;
    QString type;        // "POE", "WIFI", "VO1000" or ""
    QString kindName;    // "POE Clock", "WIFI Clock", "VO1000" or ""
    QString generation;  // "A", "B" or ""
    QString deviceText;  // "POE Clock Type B"
    QString letter;      // "A".."G"
    QString mac;         // from the ARP tool, "" when it had no answer
    QString updateCode;  // "" when the update page gave nothing
    bool givenPassword = false;
    QString password;
};
