#include "ipv4text.h"

#include "boundednumber.h"
#include "ipv4address.h"

#include <QStringList>

#include <arpa/inet.h>

// The tools' shared parser refuses leading zeros, so that no text can name
// two devices; here service staff's "010" means ten, as on the screen. Each
// number is read alone and written back without its zeros for that parser.
std::optional<quint32> parseIpv4Number(const QString &text)
{
    if (text.size() > 3)
        return std::nullopt;
    const std::optional<long long> number = parseBoundedNumber(text.toStdString(), 0, 255);
    if (!number || text.startsWith(QLatin1Char('-')))
        return std::nullopt;
    return quint32(*number);
}

std::optional<quint32> parseIpv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    QStringList plain;
    for (const QString &part : parts) {
        const std::optional<quint32> number = parseIpv4Number(part);
        if (!number)
            return std::nullopt;
        plain << QString::number(*number);
    }
    const std::optional<in_addr> address = parseIpv4Address(plain.join(QLatin1Char('.')).toStdString());
    if (!address)
        return std::nullopt;
    return ntohl(address->s_addr);
}

QString formatIpv4(quint32 address)
{
    in_addr value{};
    value.s_addr = htonl(address);
    return QString::fromStdString(addressText(value));
}
