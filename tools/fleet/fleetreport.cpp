#include "fleetreport.h"

#include "ipv4text.h"
#include "platform/filesystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QJsonValue timeText(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toString(Qt::ISODateWithMs)) : QJsonValue();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QByteArray FleetReport::toJson() const
{
    QVector<Entry> byAddress = m_entries;
    std::sort(byAddress.begin(), byAddress.end(), [](const Entry &a, const Entry &b) {
        return a.device.address < b.device.address;
    });
    QJsonArray devices;
    for (const Entry &entry : byAddress) {
        devices.append(QJsonObject{
            {QStringLiteral("address"), formatIpv4(entry.device.address)},
            {QStringLiteral("mac"), textOrNull(entry.device.mac)},
            {QStringLiteral("kind"), textOrNull(entry.device.kindName)},
            {QStringLiteral("generation"), textOrNull(entry.device.generation)},
            {QStringLiteral("letter"), textOrNull(entry.device.letter)},
            {QStringLiteral("image"), textOrNull(entry.image)},
            {QStringLiteral("image_sha256"), textOrNull(entry.imageSha256)},
            {QStringLiteral("result"), fleetResultText(entry.result)},
            {QStringLiteral("error"), textOrNull(entry.error)},
            {QStringLiteral("note"), textOrNull(entry.note)},
            {QStringLiteral("seconds"), qRound(entry.seconds * 10) / 10.0},
        });
    }
    const QJsonObject root{
        {QStringLiteral("started"), timeText(m_started)},
        {QStringLiteral("finished"), timeText(m_finished)},
        {QStringLiteral("stopped"), textOrNull(m_stopped)},
        {QStringLiteral("devices"), devices},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool FleetReport::write(const QString &path, QString *error) const
{
    QString reason;
    if (!FileSystem::writeWhole(path, toJson(), &reason)) {
        *error = QStringLiteral("cannot write report: %1").arg(reason);
        return false;
    }
    return true;
}
