#pragma once

#include <QString>

// How a device ended a run, as the report and the output name it.
enum class FleetResult {
    Found,         // scan
    Updated,
    // Holds the image already, by the history: nothing sent.
    Current,
    FlashFailed,
    NotBack,
    // Flashed twice, and neither time did the last block's acknowledgement
    // come: it may run the old firmware.
    Unconfirmed,
    NoImage,
    WantsPassword,
    KindUnknown,
    // Behind a router: the boot loader's broadcasts never reach this host.
    NotOnSegment,
    // The canary failed or the failure budget ran out: never touched.
    NotStarted,
    Skipped,       // dry run, not confirmed, interrupted
};

QString fleetResultText(FleetResult result);
// A device that was to be updated and is not: counts against the budget.
bool isFleetFailure(FleetResult result);
