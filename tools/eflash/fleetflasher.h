#pragma once

#include "devicesession.h"
#include "flashlink.h"
#include "flashobserver.h"

#include <chrono>
#include <memory>
#include <vector>

// Flashes a list of devices on one link at the same time: one sender of
// magic packets, one BOOTP server that answers each listed MAC address with
// its own address and ignores every other, and one TFTP server on port 69
// that hands each read request, by the requester's address, to that
// device's own transfer on a port of its own. A device that fails ends
// alone; the others go on at their own pace.
class FleetFlasher
{
public:
    using Clock = std::chrono::steady_clock;

    // TFTP numbers blocks with 16 bits and the last block is always short.
    static constexpr std::size_t maximumImageSize = 65535 * 512 - 1;

    FleetFlasher(std::vector<FlashTarget> targets, std::chrono::milliseconds bootLoaderWait,
                 FlashObserver &observer);
    ~FleetFlasher();

    // Returns once every device has finished; true when all were flashed.
    bool run();

private:
    bool prepare();
    bool chooseLink();
    bool openSockets();
    void failAll(const std::string &reason);
    void handleBootPackets(Clock::time_point now);
    void handleTftpPackets(Clock::time_point now);
    void handleTftpDatagram(const UdpSocket::Datagram &datagram, Clock::time_point now);
    DeviceSession *activeSessionFor(in_addr address);
    bool fromOurInterface(const UdpSocket::Datagram &datagram) const;

    FlashLink m_link;
    FlashObserver &m_observer;
    std::vector<std::unique_ptr<DeviceSession>> m_sessions;
};
