#include "updateplan.h"

#include "ipv4text.h"

UpdatePlan::UpdatePlan(const QVector<DeviceFinding> &findings, const ImageCatalog &images)
{
    for (const DeviceFinding &finding : findings) {
        Device device;
        device.finding = finding;
        switch (finding.state) {
        case DeviceFinding::State::WantsPassword:
            device.result = FleetResult::WantsPassword;
            device.error = finding.givenPassword ? QStringLiteral("the device refused the given password")
                                                 : QStringLiteral("the device refused the default password");
            m_settled.append(device);
            continue;
        case DeviceFinding::State::KindUnknown:
            device.result = FleetResult::KindUnknown;
            device.error = QStringLiteral("kind or generation could not be determined");
            m_settled.append(device);
            continue;
        case DeviceFinding::State::Found:
            break;
        }
        device.image = images.forLetter(finding.letter);
        if (!device.image) {
            device.result = FleetResult::NoImage;
            device.error = QStringLiteral("no image for kind %1 (letter %2)").arg(finding.deviceText, finding.letter);
            m_settled.append(device);
            continue;
        }
        m_toUpdate.append(device);
    }
}

QStringList UpdatePlan::matchLines() const
{
    QStringList lines;
    for (const Device &device : m_toUpdate) {
        lines << QStringLiteral("%1 %2 (letter %3): %4")
                     .arg(formatIpv4(device.finding.address), device.finding.deviceText, device.finding.letter,
                          device.image->fileName);
    }
    return lines;
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
