#pragma once

#include "bootloaderhost.h"
#include "optiontable.h"
#include "webinterface.h"

#include <QString>

#include <netinet/in.h>

// Everything the command line chooses. A new part of the simulated device
// adds its own settings member here.
struct SimOptions
{
    in_addr address = defaultAddress();
    int port = 80;
    WebInterface::Settings web;
    bool bootLoader = false;
    BootLoaderHost::Settings boot;
    // From the boot loader's start until this long after its last block, the
    // web interface does not answer: the device is rebooting.
    int rebootSeconds = 0;
    QString logFile; // empty: standard output
    bool quitOnEof = false;

    static in_addr defaultAddress();
};

// What velquor-sim --help says above the options.
extern const char *const simulatorSummary;

// Option-table readers for the simulated device's own kinds of value.
namespace simoption {

OptionTable::Reader text(QString *target);
OptionTable::Reader kind(DevicePages::Kind *target);
OptionTable::Reader generation(DevicePages::Generation *target);
OptionTable::Reader credentials(int *target);

// Fault options: PATH (a request path, or "*" for every path), PATH=NUMBER
// within [minimum, maximum], or PATH=TEXT; each may be given several times.
OptionTable::Reader pathFlag(PathBehaviours *behaviours, bool PathBehaviour::*member);
OptionTable::Reader pathNumber(PathBehaviours *behaviours, long long minimum, long long maximum,
                               void (*store)(PathBehaviour &, long long));
OptionTable::Reader pathText(PathBehaviours *behaviours);

}
