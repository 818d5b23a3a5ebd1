#include "devicefinding.h"

DeviceFinding DeviceFinding::fromProbe(quint32 address, const QVariantMap &fields)
{
    DeviceFinding finding;
    finding.address = address;
    finding.velquor = !fields.value(QStringLiteral("initfail"), true).toBool();
    finding.type = fields.value(QStringLiteral("type")).toString();
    finding.kindName = fields.value(QStringLiteral("kindName")).toString();
    finding.generation = fields.value(QStringLiteral("generation")).toString();
    finding.deviceText = fields.value(QStringLiteral("deviceText")).toString();
    finding.letter = fields.value(QStringLiteral("letter")).toString();
    finding.updateCode = fields.value(QStringLiteral("updateCode")).toString();
    if (fields.value(QStringLiteral("unauthorized")).toBool()) {
        // What a refused password still lets through says nothing reliable.
        finding.state = State::WantsPassword;
        finding.letter.clear();
    } else if (finding.letter == QLatin1String("G")) {
        finding.state = State::KindUnknown;
    }
    return finding;
}
