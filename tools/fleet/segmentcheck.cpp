#include "segmentcheck.h"

#include "ipv4text.h"
#include "linkroute.h"

#include <arpa/inet.h>

QString offSegmentReason(quint32 address)
{
    in_addr destination{};
    destination.s_addr = htonl(address);
    std::string error;
    const std::optional<LinkRoute> route = lookupRoute(destination, &error);
    if (!route)
        return QStringLiteral("no route to it (%1)").arg(QString::fromStdString(error));
    if (!route->viaGateway)
        return QString();
    return QStringLiteral("reached through the router %1 on %2; run the update on a host in the device's own segment")
        .arg(formatIpv4(ntohl(route->gateway.s_addr)), QString::fromStdString(route->interfaceName));
}
