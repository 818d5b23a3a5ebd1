#pragma once

#include "flashreport.h"
#include "linkroute.h"
#include "tftptransfer.h"
#include "udpsocket.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct FlashSettings
{
    in_addr device{};
    MacAddress mac{};
    std::vector<std::uint8_t> image;
    std::string bootFile;
    // For the boot loader's first BOOTP request, and again from there to its
    // TFTP read request.
    std::chrono::milliseconds bootLoaderWait{30000};
};

// The host side of the Ethernet boot-loader update: magic packets until the
// boot loader asks for an address, a BOOTP server that gives it the device's
// address and the image name, and a TFTP server that hands out the image.
// Everything goes through the interface the routing table uses to reach the
// device, and every wait is bounded.
class EthernetFlasher
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds magicInterval{500};
    // The whole session, whatever the device does.
    static constexpr std::chrono::minutes sessionLimit{15};
    // TFTP numbers blocks with 16 bits and the last block is always short.
    static constexpr std::size_t maximumImageSize = 65535 * 512 - 1;

    EthernetFlasher(FlashSettings settings, FlashReport &report);
    ~EthernetFlasher();

    bool run();

private:
    enum class Phase { WaitingForBootLoader, WaitingForRequest, Transferring };

    bool openSockets();
    void sendMagicPacket();
    void handleBootRequest(const UdpSocket::Datagram &datagram, Clock::time_point now);
    bool handleTftpRequest(const UdpSocket::Datagram &datagram, Clock::time_point now);
    void teachNeighbourTable();
    bool fail(const std::string &reason) const;

    FlashSettings m_settings;
    FlashReport &m_report;
    LinkRoute m_route;
    UdpSocket m_magicSocket;
    UdpSocket m_bootSocket;
    UdpSocket m_tftpSocket;
    std::unique_ptr<TftpTransfer> m_transfer;
    Phase m_phase = Phase::WaitingForBootLoader;
    Clock::time_point m_requestDeadline = Clock::time_point::max();
    int m_magicPackets = 0;
    bool m_neighbourTaught = false;
};
