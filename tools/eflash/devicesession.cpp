#include "devicesession.h"

#include "bootpmessage.h"
#include "flashreport.h"
#include "neighbourentry.h"
#include "tftppacket.h"

#include <cstdio>

namespace {

constexpr std::uint16_t magicPort = 9;
constexpr std::uint16_t bootClientPort = 68;

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

}

DeviceSession::DeviceSession(std::size_t index, FlashTarget target, FlashLink &link, FlashObserver &observer)
    : m_index(index)
    , m_target(std::move(target))
    , m_link(link)
    , m_observer(observer)
{
}

void DeviceSession::start(Clock::time_point now)
{
    m_start = now;
    m_bootLoaderDeadline = now + m_link.bootLoaderWait;
    m_sessionEnd = m_bootLoaderDeadline + sessionLimit;
    m_nextMagic = now;
    m_observer.note(m_index, "Waiting up to " + durationText(m_link.bootLoaderWait) + " for the boot loader of "
                                 + formatMacAddress(m_target.mac));
}

void DeviceSession::tick(Clock::time_point now)
{
    if (m_phase == Phase::WaitingForBootLoader) {
        if (now >= m_bootLoaderDeadline)
            return fail("no answer from the boot loader of " + formatMacAddress(m_target.mac) + " at "
                        + addressText(m_target.device) + " within " + durationText(m_link.bootLoaderWait));
        if (now >= m_nextMagic) {
            sendMagicPacket();
            m_nextMagic = now + magicInterval;
        }
    }
    if (m_phase == Phase::WaitingForRequest && now >= m_requestDeadline)
        return fail("the boot loader took an address but did not ask for the image within "
                    + durationText(m_link.bootLoaderWait));
    if (m_phase == Phase::Transferring) {
        m_transfer->handleTimeout(now);
        if (m_transfer->state() == TftpTransfer::State::Failed)
            return fail(m_transfer->failure());
    }
    if (m_phase != Phase::Done && now >= m_sessionEnd)
        fail("the update did not finish within the session limit");
}

DeviceSession::Clock::time_point DeviceSession::nextWake() const
{
    switch (m_phase) {
    case Phase::WaitingForBootLoader:
        return std::min(m_nextMagic, m_bootLoaderDeadline);
    case Phase::WaitingForRequest:
        return std::min(m_requestDeadline, m_sessionEnd);
    case Phase::Transferring:
        return std::min(m_transfer->deadline(), m_sessionEnd);
    case Phase::Done:
        break;
    }
    return Clock::time_point::max();
}

SocketHandle DeviceSession::transferDescriptor() const
{
    return m_phase == Phase::Transferring ? m_transfer->descriptor() : noSocket;
}

void DeviceSession::sendMagicPacket()
{
    std::vector<std::uint8_t> packet(6, 0xaa);
    for (int copy = 0; copy < 4; ++copy)
        packet.insert(packet.end(), m_target.mac.begin(), m_target.mac.end());

    const LinkRoute &route = m_link.route;
    if (m_magicPackets == 0)
        m_observer.note(m_index, "Sending magic packets to " + addressText(m_target.device)
                                     + (route.canBroadcast ? " and as broadcast on " + route.interfaceName : "")
                                     + " every " + std::to_string(magicInterval.count()) + " ms");
    // A device that has just left its firmware may no longer answer ARP, so
    // the broadcast is what usually reaches it; the unicast helps where
    // broadcasts are filtered.
    m_link.magicSocket.sendTo(m_target.device, magicPort, packet);
    if (route.canBroadcast)
        m_link.magicSocket.sendTo(broadcastAddress(), magicPort, packet);
    ++m_magicPackets;
}

bool DeviceSession::teachNeighbourTable()
{
    // The boot loader has no address until it reads our reply, so it cannot
    // answer ARP for it; like a DHCP server we tell the kernel the MAC address.
    if (!m_link.route.isEthernet)
        return true;
    if (m_neighbourTaught)
        return *m_neighbourTaught;
    std::string problem;
    m_neighbourTaught = addNeighbourEntry(m_target.device, m_target.mac, m_link.route.interfaceName, &problem);
    if (!*m_neighbourTaught)
        m_observer.note(m_index, "Note: cannot add the device to the ARP table (" + problem + "); "
                                     + (m_link.route.canBroadcast ? "sending the BOOTP reply as broadcast"
                                                                  : "the boot loader has to answer ARP itself"));
    return *m_neighbourTaught;
}

bool DeviceSession::handleBootRequest(const BootpMessage &request, Clock::time_point now)
{
    if (!request.isBootLoaderRequest(m_target.mac))
        return false;
    if (m_phase == Phase::Done)
        return true;
    if (m_phase == Phase::WaitingForBootLoader) {
        m_observer.note(m_index, "Boot loader answered after " + std::to_string(m_magicPackets) + " magic packet(s)");
        m_phase = Phase::WaitingForRequest;
        m_requestDeadline = now + m_link.bootLoaderWait;
    }
    const LinkRoute &route = m_link.route;
    // Without the ARP entry a unicast reply reaches only a boot loader that
    // answers ARP before it has an address; RFC 1542 lets a server broadcast.
    const bool broadcast = route.canBroadcast && (request.wantsBroadcastReply() || !teachNeighbourTable());
    const in_addr destination = broadcast ? broadcastAddress() : m_target.device;
    m_link.bootSocket.sendTo(destination, bootClientPort,
                             request.makeReply(m_target.device, route.source, m_target.bootFile));
    m_observer.note(m_index, "BOOTP reply sent to " + addressText(destination) + ": address "
                                 + addressText(m_target.device) + ", server " + addressText(route.source)
                                 + ", file \"" + m_target.bootFile + "\"");
    return true;
}

void DeviceSession::handleReadRequest(const sockaddr_in &from, const std::string &fileName, Clock::time_point now)
{
    if (m_transfer && sameEndpoint(m_transfer->client(), from)) {
        m_transfer->handleRepeatedRequest(now);
        return;
    }
    if (m_transfer)
        m_observer.note(m_index, "The device sent a new read request; starting the transfer again");

    const LinkRoute &route = m_link.route;
    std::string error;
    UdpSocket transferSocket;
    if (!transferSocket.open(route.source, 0, route.interfaceName, route.interfaceIndex, route.source, &error)) {
        m_link.tftpSocket.sendTo(from, tftp::makeError(tftp::NotDefined, "Server cannot open a transfer port"));
        return fail(error);
    }
    auto transfer = std::make_unique<TftpTransfer>(m_target.image, std::move(transferSocket), from);
    if (m_transfer)
        transfer->continueRetriesOf(*m_transfer);
    m_transfer = std::move(transfer);
    m_phase = Phase::Transferring;
    const std::size_t size = m_target.image.size();
    m_observer.note(m_index, "TFTP read request for \"" + deviceText(fileName) + "\" from "
                                 + addressText(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port))
                                 + "; sending " + std::to_string(size) + " bytes in "
                                 + std::to_string(size / tftp::blockSize + 1) + " blocks from port "
                                 + std::to_string(m_transfer->port()));
    m_observer.progress(m_index, progress());
    m_transfer->start(now);
}

void DeviceSession::handleTransferPackets(Clock::time_point now, int batch)
{
    for (int count = 0; count < batch && m_phase == Phase::Transferring; ++count) {
        const auto datagram = m_transfer->receiveFromSocket();
        if (!datagram)
            break;
        m_transfer->handle(*datagram, now);
        m_observer.progress(m_index, progress());
        if (m_transfer->state() == TftpTransfer::State::Failed)
            fail(m_transfer->failure());
        else if (m_transfer->state() == TftpTransfer::State::Finished)
            finish(now);
    }
}

FlashObserver::Progress DeviceSession::progress() const
{
    FlashObserver::Progress progress;
    progress.imageSize = m_target.image.size();
    if (m_transfer) {
        progress.bytesAcknowledged = m_transfer->bytesAcknowledged();
        progress.retransmissions = m_transfer->retransmissions();
    }
    return progress;
}

void DeviceSession::finish(Clock::time_point now)
{
    m_phase = Phase::Done;
    m_flashed = true;
    FlashObserver::Outcome outcome;
    outcome.flashed = true;
    outcome.seconds = std::chrono::duration<double>(now - m_start).count();
    outcome.bytes = m_target.image.size();
    outcome.retransmissions = m_transfer->retransmissions();
    m_transfer.reset();
    m_observer.finished(m_index, outcome);
}

void DeviceSession::fail(const std::string &reason)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    FlashObserver::Outcome outcome;
    outcome.error = reason;
    if (m_start != Clock::time_point{})
        outcome.seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const FlashObserver::Progress reached = progress();
    outcome.bytes = reached.bytesAcknowledged;
    outcome.retransmissions = reached.retransmissions;
    m_transfer.reset();
    m_observer.finished(m_index, outcome);
}
