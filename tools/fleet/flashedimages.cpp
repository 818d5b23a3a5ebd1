#include "flashedimages.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString macKey(const QString &mac)
{
    QString key = mac.trimmed().toLower();
    key.replace(QLatin1Char('-'), QLatin1Char(':'));
    return key == QLatin1String("00:00:00:00:00:00") ? QString() : key;
}

} // namespace

bool FlashedImages::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the history %1: %2").arg(path, file.errorString());
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        const QString mac = macKey(record.value(QLatin1String("mac")).toString());
        const QString result = record.value(QLatin1String("result")).toString();
        if (record.isEmpty() || result.isEmpty()) {
            ++m_unreadable;
            continue;
        }
        if (mac.isEmpty())
            continue;
        Flash flash;
        if (result == QLatin1String("complete")) {
            flash.sha256 = record.value(QLatin1String("image_sha256")).toString().toLower();
            flash.image = record.value(QLatin1String("image")).toString();
            flash.time = record.value(QLatin1String("time")).toString();
        }
        m_latest.insert(mac, flash);
    }
    return true;
}

const FlashedImages::Flash *FlashedImages::currentOf(const QString &mac) const
{
    const QString key = macKey(mac);
    if (key.isEmpty())
        return nullptr;
    const auto found = m_latest.constFind(key);
    return found == m_latest.constEnd() || found->sha256.isEmpty() ? nullptr : &found.value();
}
