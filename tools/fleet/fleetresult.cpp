#include "fleetresult.h"

QString fleetResultText(FleetResult result)
{
    switch (result) {
    case FleetResult::Found: return QStringLiteral("found");
    case FleetResult::Updated: return QStringLiteral("updated");
    case FleetResult::Current: return QStringLiteral("current");
    case FleetResult::FlashFailed: return QStringLiteral("flash-failed");
    case FleetResult::NotBack: return QStringLiteral("not-back");
    case FleetResult::Unconfirmed: return QStringLiteral("unconfirmed");
    case FleetResult::NoImage: return QStringLiteral("no-image");
    case FleetResult::WantsPassword: return QStringLiteral("wants-password");
    case FleetResult::KindUnknown: return QStringLiteral("kind-unknown");
    case FleetResult::NotOnSegment: return QStringLiteral("not-on-segment");
    case FleetResult::NotStarted: return QStringLiteral("not-started");
    case FleetResult::Skipped: return QStringLiteral("skipped");
    }
    return QString();
}

bool isFleetFailure(FleetResult result)
{
    return result == FleetResult::FlashFailed || result == FleetResult::NotBack || result == FleetResult::Unconfirmed;
}
