#pragma once

#include <QString>
#include <QVariantMap>

// What the fleet knows about one Velquor device, from the probe through the
// update to the report. The password stays in memory for the upload and the
// check after the flash; it is never printed.
struct DeviceFinding
{
    enum class State { Found, WantsPassword, KindUnknown };

    quint32 address = 0;
    // False when no Velquor title came back (the probe learnt nothing).
    bool velquor = false;
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

    // From the probe conversation's answer (DeviceProbe.qml's `probed`).
    static DeviceFinding fromProbe(quint32 address, const QVariantMap &fields);
};
