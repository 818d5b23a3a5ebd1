#pragma once

#include <QString>

// Whether this host can flash the device at `address`. Its boot loader asks
// for an address and its image by broadcast, which no router forwards, so a
// device reached through a router can be scanned but never flashed from
// here. Empty when the route is a directly attached link; otherwise why not,
// naming the router.
QString offSegmentReason(quint32 address);
