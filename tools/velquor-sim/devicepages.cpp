#include "devicepages.h"

#include <QDateTime>

namespace {

QByteArray htmlPage(const QByteArray &title, const QByteArray &content)
{
    return QByteArrayLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>")
        + title + QByteArrayLiteral("</title>\n</head>\n<body>\n") + content
        + QByteArrayLiteral("</body>\n</html>\n");
}

QByteArray field(const QByteArray &label, const QByteArray &name, const QByteArray &value)
{
    return QByteArrayLiteral("<tr><td>") + label + QByteArrayLiteral("</td><td><input name=\"") + name
        + QByteArrayLiteral("\" value=\"") + value + QByteArrayLiteral("\"></td></tr>\n");
}

QByteArray row(const QByteArray &label, const QByteArray &value)
{
    return QByteArrayLiteral("<tr><td>") + label + QByteArrayLiteral("</td><td>") + value
        + QByteArrayLiteral("</td></tr>\n");
}

QByteArray table(const QByteArray &rows)
{
    return QByteArrayLiteral("<table>\n") + rows + QByteArrayLiteral("</table>\n");
}

QByteArray settingsForm(const QByteArray &rows)
{
    return QByteArrayLiteral("<h1>Settings</h1>\n<form method=\"post\" action=\"/var/www/settings.html\">\n")
        + table(rows)
        + QByteArrayLiteral("<input type=\"submit\" value=\"Save\">\n</form>\n");
}

} // namespace

DevicePages::DevicePages(Kind kind, Generation generation, const QString &mac,
                         const QString &timestamp)
    : m_kind(kind)
    , m_generation(generation)
    , m_mac(mac)
    , m_timestamp(timestamp)
{
}

QByteArray DevicePages::index() const
{
    const QByteArray title = m_kind == Kind::Vo1000 ? QByteArrayLiteral("Time Server Configuration")
                                                    : QByteArrayLiteral("Velquor Configuration");
    return htmlPage(title,
                    QByteArrayLiteral("<h1>") + title + QByteArrayLiteral("</h1>\n<ul>\n")
                        + QByteArrayLiteral("<li><a href=\"/var/www/settings.html\">Settings</a></li>\n")
                        + QByteArrayLiteral("<li><a href=\"/var/www/version.html\">About</a></li>\n")
                        + QByteArrayLiteral("</ul>\n"));
}

QByteArray DevicePages::settings() const
{
    const QByteArray network = field("Device Name", "name", "Velquor")
        + field("DHCP", "dhcp", "on") + field("Subnet Mask", "mask", "255.255.255.0");
    switch (m_kind) {
    case Kind::Poe:
        return htmlPage("Settings",
                        settingsForm(network + field("Primary NTP Server", "ntp1", "192.0.2.1")
                                     + field("Secondary NTP Server", "ntp2", "192.0.2.2")
                                     + field("Time Zone", "tz", "UTC")));
    case Kind::Wifi:
        // A Wi-Fi clock also fetches its time by NTP, so its form has both.
        return htmlPage("Settings",
                        settingsForm(network + field("Network SSID", "ssid", "clocks")
                                     + field("Security", "security", "WPA2")
                                     + field("Primary NTP Server", "ntp1", "192.0.2.1")
                                     + field("Time Zone", "tz", "UTC")));
    case Kind::Vo1000:
        return htmlPage("Settings",
                        settingsForm(network + row("Reference", "GNSS")
                                     + row("Signal Strength", "42 dBHz")
                                     + row("Satellites in View", "9")));
    }
    return QByteArray();
}

QByteArray DevicePages::version() const
{
    QByteArray rows;
    if (m_generation == Generation::A)
        rows = row("Firmware Version", "3.14") + row("Processor", "Stellaris");
    else if (m_kind == Kind::Vo1000)
        rows = row("Software Release", "2.3") + row("Processor", "TIVA TM4C1294");
    else
        rows = row("Firmware Version B", "4.07");
    return htmlPage("About", QByteArrayLiteral("<h1>About</h1>\n") + table(rows));
}

QByteArray DevicePages::mac() const
{
    return m_mac.toUtf8();
}

QByteArray DevicePages::update() const
{
    if (!m_timestamp.isEmpty())
        return m_timestamp.toUtf8();
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8();
}

QByteArray DevicePages::unauthorized() const
{
    return error(401);
}

QByteArray DevicePages::error(int status) const
{
    const QByteArray title = QByteArray::number(status) + ' ' + reasonPhrase(status);
    return htmlPage(title, QByteArrayLiteral("<h1>") + title + QByteArrayLiteral("</h1>\n"));
}

QByteArray DevicePages::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}
