#pragma once

#include "devicesession.h"
#include "flashlink.h"
#include "flashobserver.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

// Flashes a list of devices on one link at the same time: one sender of
// magic packets, one BOOTP server that answers each listed MAC address with
// its own address and ignores every other, and one TFTP server on port 69
// that hands each read request, by the requester's address, to that
// device's own transfers, each on a port of its own. A device that fails
// ends alone; the others go on at their own pace.
class FleetFlasher
{
public:
    using Clock = std::chrono::steady_clock;

    // TFTP numbers blocks with 16 bits and the last block is always short.
    static constexpr std::size_t maximumImageSize = 65535 * 512 - 1;

    FleetFlasher(std::vector<FlashTarget> targets, std::chrono::milliseconds bootLoaderWait,
                 FlashObserver &observer);
    ~FleetFlasher();

    // Finds the link and opens the sockets that need privileges (and enters
    // the devices in the ARP table), so that the caller can drop them before
    // reading a packet or a file. run() does it itself if not done before.
    // False when no device can be served; each device has its outcome then.
    bool openLink();
    // Before run(): device `index` gets its image, or ends with `reason`.
    void setImage(std::size_t index, std::vector<std::uint8_t> image);
    void leaveOut(std::size_t index, const std::string &reason);

    // Returns once every device has finished; true when all were flashed.
    bool run();

private:
    void checkTargets();
    void checkImageSizes();
    bool chooseLink();
    bool openSockets();
    void failAll(const std::string &reason);
    void handleBootPackets(Clock::time_point now);
    void handleBootClientPackets();
    void handleTftpPackets(Clock::time_point now);
    void handleTftpDatagram(const UdpSocket::Datagram &datagram, Clock::time_point now);
    DeviceSession *activeSessionFor(in_addr address);
    bool fromOurInterface(const UdpSocket::Datagram &datagram) const;

    FlashLink m_link;
    FlashObserver &m_observer;
    std::vector<std::unique_ptr<DeviceSession>> m_sessions;
    std::optional<bool> m_linkOpen;
};
