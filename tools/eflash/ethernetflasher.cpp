#include "ethernetflasher.h"

#include "bootpmessage.h"
#include "neighbourentry.h"
#include "tftppacket.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint16_t magicPort = 9;
constexpr std::uint16_t bootServerPort = 67;
constexpr std::uint16_t bootClientPort = 68;
constexpr int receiveBatch = 64;

in_addr anyAddress()
{
    in_addr address{};
    address.s_addr = htonl(INADDR_ANY);
    return address;
}

in_addr broadcastAddress()
{
    in_addr address{};
    address.s_addr = htonl(INADDR_BROADCAST);
    return address;
}

std::string durationText(std::chrono::milliseconds duration)
{
    char text[32];
    if (duration.count() % 1000 == 0)
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(duration.count() / 1000));
    else
        std::snprintf(text, sizeof text, "%.1f s", duration.count() / 1000.0);
    return text;
}

int millisecondsUntil(EthernetFlasher::Clock::time_point until, EthernetFlasher::Clock::time_point now)
{
    if (until <= now)
        return 0;
    // Rounded up, so poll never wakes a hair before a deadline and spins.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return static_cast<int>(std::min<long long>(wait, 1000));
}

}

EthernetFlasher::EthernetFlasher(FlashSettings settings, FlashReport &report)
    : m_settings(std::move(settings))
    , m_report(report)
{
}

EthernetFlasher::~EthernetFlasher() = default;

bool EthernetFlasher::fail(const std::string &reason) const
{
    m_report.error(reason);
    return false;
}

bool EthernetFlasher::openSockets()
{
    std::string error;
    const auto open = [&](UdpSocket &socket, in_addr address, std::uint16_t port) {
        return socket.open(address, port, m_route.interfaceName, m_route.interfaceIndex,
                           m_route.source, &error);
    };
    // BOOTP requests come as broadcasts, so that port listens on every
    // address; TFTP requests come to the address we hand out as the server's.
    if (!open(m_bootSocket, anyAddress(), bootServerPort)
        || !open(m_tftpSocket, m_route.source, tftp::serverPort)
        || !open(m_magicSocket, m_route.source, 0))
        return fail(error);
    if (!m_bootSocket.boundToDevice())
        m_report.info("Note: cannot bind sockets to " + m_route.interfaceName
                      + " (on older kernels that needs root or the cap_net_raw capability)"
                      + "; sending through it by address instead");
    return true;
}

void EthernetFlasher::sendMagicPacket()
{
    std::vector<std::uint8_t> packet(6, 0xaa);
    for (int copy = 0; copy < 4; ++copy)
        packet.insert(packet.end(), m_settings.mac.begin(), m_settings.mac.end());

    if (m_magicPackets == 0)
        m_report.info("Sending magic packets to " + addressText(m_settings.device)
                      + (m_route.canBroadcast ? " and as broadcast on " + m_route.interfaceName : "")
                      + " every " + std::to_string(magicInterval.count()) + " ms");
    // A device that has just left its firmware may no longer answer ARP, so
    // the broadcast is what usually reaches it; the unicast helps where
    // broadcasts are filtered.
    m_magicSocket.sendTo(m_settings.device, magicPort, packet);
    if (m_route.canBroadcast)
        m_magicSocket.sendTo(broadcastAddress(), magicPort, packet);
    ++m_magicPackets;
}

void EthernetFlasher::teachNeighbourTable()
{
    // The boot loader has no address until it reads our reply, so it cannot
    // answer ARP for it; like a DHCP server we tell the kernel the MAC address.
    if (m_neighbourTaught || !m_route.isEthernet)
        return;
    m_neighbourTaught = true;
    std::string problem;
    if (!addNeighbourEntry(m_settings.device, m_settings.mac, m_route.interfaceName, &problem))
        m_report.info("Note: cannot add the device to the ARP table (" + problem
                      + "); the boot loader has to answer ARP itself");
}

void EthernetFlasher::handleBootRequest(const UdpSocket::Datagram &datagram, Clock::time_point now)
{
    const BootpMessage request(datagram.bytes);
    if (!request.isBootLoaderRequest(m_settings.mac))
        return;
    if (m_phase == Phase::WaitingForBootLoader) {
        m_report.info("Boot loader answered after " + std::to_string(m_magicPackets) + " magic packet(s)");
        m_phase = Phase::WaitingForRequest;
        m_requestDeadline = now + m_settings.bootLoaderWait;
    }
    const bool broadcast = request.wantsBroadcastReply() && m_route.canBroadcast;
    if (!broadcast)
        teachNeighbourTable();
    const in_addr destination = broadcast ? broadcastAddress() : m_settings.device;
    m_bootSocket.sendTo(destination, bootClientPort,
                        request.makeReply(m_settings.device, m_route.source, m_settings.bootFile));
    m_report.info("BOOTP reply sent to " + addressText(destination) + ": address "
                  + addressText(m_settings.device) + ", server " + addressText(m_route.source)
                  + ", file \"" + m_settings.bootFile + "\"");
}

bool EthernetFlasher::handleTftpRequest(const UdpSocket::Datagram &datagram, Clock::time_point now)
{
    const auto refuse = [&](std::uint16_t code, const std::string &message) {
        m_tftpSocket.sendTo(datagram.from, tftp::makeError(code, message));
        return true;
    };
    // An error is never answered, from anyone: a forged one from our own
    // port would have us answer ourselves for ever.
    if (tftp::opcodeOf(datagram.bytes) == tftp::Error)
        return true;
    const std::optional<tftp::ReadRequestFields> request = tftp::parseReadRequest(datagram.bytes);
    if (!request)
        return refuse(tftp::IllegalOperation, "Illegal TFTP operation");
    if (datagram.from.sin_addr.s_addr != m_settings.device.s_addr)
        return refuse(tftp::AccessViolation, "Only the device being flashed may read the image");
    if (request->mode != "octet")
        return refuse(tftp::IllegalOperation, "Only octet mode is supported");

    if (m_transfer && sameEndpoint(m_transfer->client(), datagram.from)) {
        m_transfer->handleRepeatedRequest(now);
        return true;
    }
    if (m_transfer)
        m_report.info("The device sent a new read request; starting the transfer again");

    std::string error;
    UdpSocket transferSocket;
    if (!transferSocket.open(m_route.source, 0, m_route.interfaceName, m_route.interfaceIndex,
                             m_route.source, &error)) {
        refuse(tftp::NotDefined, "Server cannot open a transfer port");
        return fail(error);
    }
    auto transfer = std::make_unique<TftpTransfer>(m_settings.image, std::move(transferSocket), datagram.from);
    if (m_transfer)
        transfer->continueRetriesOf(*m_transfer);
    m_transfer = std::move(transfer);
    m_phase = Phase::Transferring;
    const std::size_t size = m_settings.image.size();
    m_report.info("TFTP read request for \"" + deviceText(request->fileName) + "\" from " + addressText(datagram.from.sin_addr)
                  + ":" + std::to_string(ntohs(datagram.from.sin_port)) + "; sending " + std::to_string(size)
                  + " bytes in " + std::to_string(size / tftp::blockSize + 1) + " blocks from port "
                  + std::to_string(m_transfer->port()));
    m_report.progress(0, size);
    m_transfer->start(now);
    return true;
}

bool EthernetFlasher::run()
{
    if (m_settings.image.size() > maximumImageSize)
        return fail("the image has " + std::to_string(m_settings.image.size())
                    + " bytes; TFTP can carry at most " + std::to_string(maximumImageSize));

    std::string error;
    std::optional<LinkRoute> route = lookupRoute(m_settings.device, &error);
    if (!route)
        return fail("no route to " + addressText(m_settings.device) + ": " + error);
    m_route = *route;
    m_report.info("Reaching " + addressText(m_settings.device) + " through " + m_route.interfaceName
                  + " from " + addressText(m_route.source)
                  + (m_route.viaGateway ? " (through a gateway: the boot loader will not hear us)" : ""));
    if (!openSockets())
        return false;

    const auto start = Clock::now();
    const auto bootLoaderDeadline = start + m_settings.bootLoaderWait;
    const auto sessionEnd = bootLoaderDeadline + sessionLimit;
    auto nextMagic = start;
    m_report.info("Waiting up to " + durationText(m_settings.bootLoaderWait)
                  + " for the boot loader of " + formatMacAddress(m_settings.mac));

    for (;;) {
        auto now = Clock::now();
        if (m_phase == Phase::WaitingForBootLoader) {
            if (now >= bootLoaderDeadline)
                return fail("no answer from the boot loader of " + formatMacAddress(m_settings.mac) + " at "
                            + addressText(m_settings.device) + " within "
                            + durationText(m_settings.bootLoaderWait));
            if (now >= nextMagic) {
                sendMagicPacket();
                nextMagic = now + magicInterval;
            }
        }
        if (m_phase == Phase::WaitingForRequest && now >= m_requestDeadline)
            return fail("the boot loader took an address but did not ask for the image within "
                        + durationText(m_settings.bootLoaderWait));
        if (m_transfer) {
            m_transfer->handleTimeout(now);
            if (m_transfer->state() == TftpTransfer::State::Failed)
                return fail(m_transfer->failure());
        }
        if (now >= sessionEnd)
            return fail("the update did not finish within the session limit");

        auto wake = sessionEnd;
        if (m_phase == Phase::WaitingForBootLoader)
            wake = std::min({wake, nextMagic, bootLoaderDeadline});
        if (m_phase == Phase::WaitingForRequest)
            wake = std::min(wake, m_requestDeadline);
        if (m_transfer)
            wake = std::min(wake, m_transfer->deadline());

        pollfd sockets[3] = {{m_bootSocket.descriptor(), POLLIN, 0},
                             {m_tftpSocket.descriptor(), POLLIN, 0},
                             {m_transfer ? m_transfer->descriptor() : -1, POLLIN, 0}};
        if (poll(sockets, 3, millisecondsUntil(wake, now)) < 0 && errno != EINTR)
            return fail(std::string("waiting for the device failed: ") + std::strerror(errno));
        now = Clock::now();

        const auto fromOurInterface = [&](const UdpSocket::Datagram &datagram) {
            return datagram.interfaceIndex == 0 || datagram.interfaceIndex == m_route.interfaceIndex;
        };
        // Each socket gets a bounded batch per round, so that however fast
        // packets come, the clocks above are looked at again.
        if (sockets[0].revents & POLLIN) {
            for (int count = 0; count < receiveBatch; ++count) {
                const auto datagram = m_bootSocket.receive();
                if (!datagram)
                    break;
                if (fromOurInterface(*datagram))
                    handleBootRequest(*datagram, now);
            }
        }
        if (sockets[1].revents & POLLIN) {
            for (int count = 0; count < receiveBatch; ++count) {
                const auto datagram = m_tftpSocket.receive();
                if (!datagram)
                    break;
                if (fromOurInterface(*datagram) && !handleTftpRequest(*datagram, now))
                    return false;
            }
        }
        if (m_transfer && (sockets[2].revents & POLLIN) && sockets[2].fd == m_transfer->descriptor()) {
            for (int count = 0; count < receiveBatch && m_transfer->state() == TftpTransfer::State::Running;
                 ++count) {
                const auto datagram = m_transfer->receiveFromSocket();
                if (!datagram)
                    break;
                m_transfer->handle(*datagram, now);
                m_report.progress(m_transfer->bytesAcknowledged(), m_settings.image.size());
            }
            if (m_transfer->state() == TftpTransfer::State::Failed)
                return fail(m_transfer->failure());
            if (m_transfer->state() == TftpTransfer::State::Finished) {
                m_report.finish();
                const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
                char summary[160];
                std::snprintf(summary, sizeof summary,
                              "Image of %zu bytes transferred in %.2f s (%d retransmissions)",
                              m_settings.image.size(), seconds, m_transfer->retransmissions());
                m_report.info(summary);
                return true;
            }
        }
    }
}
