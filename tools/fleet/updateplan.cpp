#include "updateplan.h"

#include "flashedimages.h"
#include "ipv4text.h"

namespace {

QString deviceWithLetter(const DeviceFinding &finding)
{
    return QStringLiteral("%1 (letter %2)").arg(finding.deviceText, finding.letter);
}

} // namespace

UpdatePlan::UpdatePlan(const QVector<DeviceFinding> &findings, const ImageCatalog &images, const Rules &rules)
{
    for (const DeviceFinding &finding : findings) {
        Device device;
        device.finding = finding;
        switch (finding.state) {
        case DeviceFinding::State::WantsPassword:
            settle(device, FleetResult::WantsPassword, QStringLiteral("cannot update"),
                   finding.givenPassword ? QStringLiteral("the device refused the given password")
                                         : QStringLiteral("the device refused the default password"));
            continue;
        case DeviceFinding::State::KindUnknown:
            settle(device, FleetResult::KindUnknown, QStringLiteral("cannot update"),
                   QStringLiteral("kind or generation could not be determined"));
            continue;
        case DeviceFinding::State::Found:
            break;
        }
        device.image = images.forLetter(finding.letter);
        if (!device.image) {
            settle(device, FleetResult::NoImage, QStringLiteral("no image"),
                   QStringLiteral("no image for kind %1").arg(deviceWithLetter(finding)));
            continue;
        }
        const QString offSegment = rules.offSegment ? rules.offSegment(finding.address) : QString();
        if (!offSegment.isEmpty()) {
            settle(device, FleetResult::NotOnSegment, QStringLiteral("not on this machine's segment"),
                   QStringLiteral("%1 is %2").arg(deviceWithLetter(finding), offSegment));
            continue;
        }
        if (finding.mac.isEmpty()) {
            settle(device, FleetResult::FlashFailed, QStringLiteral("cannot update"),
                   QStringLiteral("no MAC address: arpping.exe had no answer"));
            continue;
        }
        const FlashedImages::Flash *held = rules.history ? rules.history->currentOf(finding.mac) : nullptr;
        if (held && held->sha256 == device.image->sha256 && !rules.reinstall) {
            device.note = QStringLiteral("holds %1 since %2 (the history's latest flash of %3)")
                              .arg(device.image->fileName, held->time, finding.mac);
            settle(device, FleetResult::Current, QStringLiteral("current"),
                   QStringLiteral("%1 %2").arg(deviceWithLetter(finding), device.note));
            continue;
        }
        device.canary = m_toUpdate.size() < rules.canaries;
        m_lines << QStringLiteral("%1 flash: %2 with %3%4")
                       .arg(formatIpv4(finding.address), deviceWithLetter(finding), device.image->fileName,
                            QLatin1String(device.canary ? " (canary)" : ""));
        m_toUpdate.append(device);
    }
}

void UpdatePlan::settle(Device device, FleetResult result, const QString &planWord, const QString &error)
{
    device.result = result;
    if (result != FleetResult::Current)
        device.error = error;
    m_lines << QStringLiteral("%1 %2: %3").arg(formatIpv4(device.finding.address), planWord, error);
    m_settled.append(device);
}

QString UpdatePlan::question() const
{
    if (m_toUpdate.isEmpty())
        return QString();
    return QStringLiteral("Update %1 device%2?").arg(m_toUpdate.size()).arg(QLatin1String(m_toUpdate.size() == 1 ? "" : "s"));
}

void UpdatePlan::skipAll(const QString &reason)
{
    for (Device &device : m_toUpdate) {
        device.result = FleetResult::Skipped;
        device.error = reason;
        m_settled.append(device);
    }
    m_toUpdate.clear();
}
