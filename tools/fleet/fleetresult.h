#pragma once

#include <QString>

// How a device ended a run, as the report and the output name it.
enum class FleetResult {
    Found,         // scan
    Updated,
    FlashFailed,
    NotBack,
    NoImage,
    WantsPassword,
    KindUnknown,
    Skipped,       // dry run, not confirmed, interrupted
};

QString fleetResultText(FleetResult result);
