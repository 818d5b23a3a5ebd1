#include "ipv4text.h"

#include <QStringList>

std::optional<quint32> parseIpv4Number(const QString &text)
{
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    quint32 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + quint32(c.unicode() - '0');
    }
    if (value > 255)
        return std::nullopt;
    return value;
}

std::optional<quint32> parseIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        const std::optional<quint32> number = parseIpv4Number(part);
        if (!number)
            return std::nullopt;
        address = (address << 8) | *number;
    }
    return address;
}

QString formatIpv4(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24).arg((address >> 16) & 0xFF).arg((address >> 8) & 0xFF).arg(address & 0xFF);
}
