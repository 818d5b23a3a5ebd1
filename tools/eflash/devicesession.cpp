#include "devicesession.h"

#include "bootpmessage.h"
#include "flashreport.h"
#include "neighbourentry.h"
#include "tftppacket.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint16_t magicPort = 9;

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
    m_sessionEnd = now + sessionLimit;
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
    if (m_phase == Phase::WaitingForRequest && now >= m_requestDeadline) {
        // It asked someone else: the likeliest cause is a second server
        // whose reply came first.
        const std::string cause = m_foreignBootServer
            ? "; another BOOTP or DHCP server on the link, " + addressText(*m_foreignBootServer)
                + ", answered it too and was likely first"
            : "; likely another BOOTP or DHCP server on the link answered it first";
        return fail("the boot loader took an address but did not ask for the image within "
                    + durationText(m_link.bootLoaderWait) + cause);
    }
    if (m_phase == Phase::Transferring) {
        for (auto &transfer : m_transfers)
            transfer->handleTimeout(now);
        dropFailedTransfers();
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
    case Phase::Transferring: {
        Clock::time_point wake = m_sessionEnd;
        for (const auto &transfer : m_transfers)
            wake = std::min(wake, transfer->deadline());
        return wake;
    }
    case Phase::Done:
        break;
    }
    return Clock::time_point::max();
}

void DeviceSession::appendTransferDescriptors(std::vector<SocketHandle> &descriptors) const
{
    if (m_phase == Phase::Transferring)
        for (const auto &transfer : m_transfers)
            descriptors.push_back(transfer->descriptor());
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

void DeviceSession::prepareNeighbourTable()
{
    if (m_phase != Phase::Done)
        teachNeighbourTable();
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
    m_link.bootSocket.sendTo(destination, BootpMessage::clientPort,
                             request.makeReply(m_target.device, route.source, m_target.bootFile));
    m_observer.note(m_index, "BOOTP reply sent to " + addressText(destination) + ": address "
                                 + addressText(m_target.device) + ", server " + addressText(route.source)
                                 + ", file \"" + m_target.bootFile + "\"");
    return true;
}

void DeviceSession::noteForeignBootReply(in_addr server)
{
    if (m_phase == Phase::Done
        || (m_foreignBootServer && m_foreignBootServer->s_addr == server.s_addr))
        return;
    m_foreignBootServer = server;
    m_observer.note(m_index, "Another server, " + addressText(server) + ", sent a BOOTP reply to "
                                 + formatMacAddress(m_target.mac));
}

void DeviceSession::handleReadRequest(const sockaddr_in &from, const std::string &fileName, Clock::time_point now)
{
    for (auto &transfer : m_transfers) {
        if (sameEndpoint(transfer->client(), from)) {
            transfer->handleRepeatedRequest(now);
            return dropFailedTransfers();
        }
    }
    // From a new port it may be the device again, or anyone on the link using
    // its address: it touches no running transfer, or a few forged requests
    // would end the real one.
    if (m_transfers.size() >= maximumTransfers) {
        // A flood of requests gets refusals, not memory.
        m_link.tftpSocket.sendTo(from, tftp::makeError(tftp::NotDefined, "Too many transfers for this device"));
        return;
    }
    if (!m_transfers.empty())
        m_observer.note(m_index, "The device sent a new read request; starting the transfer again");

    const LinkRoute &route = m_link.route;
    std::string error;
    UdpSocket transferSocket;
    if (!transferSocket.open(route.source, 0, route.interfaceName, route.interfaceIndex, route.source, &error)) {
        m_link.tftpSocket.sendTo(from, tftp::makeError(tftp::NotDefined, "Server cannot open a transfer port"));
        return fail(error);
    }
    auto transfer = std::make_unique<TftpTransfer>(m_target.image, std::move(transferSocket), from);
    for (const auto &other : m_transfers)
        transfer->continueRetriesOf(*other);
    m_transfers.push_back(std::move(transfer));
    TftpTransfer &started = *m_transfers.back();
    m_phase = Phase::Transferring;
    const std::size_t size = m_target.image.size();
    m_observer.note(m_index, "TFTP read request for \"" + deviceText(fileName) + "\" from "
                                 + addressText(from.sin_addr) + ":" + std::to_string(ntohs(from.sin_port))
                                 + "; sending " + std::to_string(size) + " bytes in "
                                 + std::to_string(size / tftp::blockSize + 1) + " blocks from port "
                                 + std::to_string(started.port()));
    m_observer.progress(m_index, progress());
    started.start(now);
    dropFailedTransfers();
}

void DeviceSession::handleTransferPackets(Clock::time_point now, int batch)
{
    for (std::size_t i = 0; i < m_transfers.size() && m_phase == Phase::Transferring; ++i) {
        TftpTransfer &transfer = *m_transfers[i];
        for (int count = 0; count < batch && transfer.state() == TftpTransfer::State::Running; ++count) {
            const auto datagram = transfer.receiveFromSocket();
            if (!datagram)
                break;
            transfer.handle(*datagram, now);
            m_observer.progress(m_index, progress());
            if (transfer.state() == TftpTransfer::State::Finished)
                return finish(now, transfer);
        }
    }
    dropFailedTransfers();
}

void DeviceSession::dropFailedTransfers()
{
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        if ((*it)->state() != TftpTransfer::State::Failed) {
            ++it;
            continue;
        }
        // An unconfirmed end outweighs whatever the others say: the device
        // may hold the image.
        if (!m_unconfirmed || (*it)->unconfirmed()) {
            m_transferFailure = (*it)->failure();
            m_unconfirmed = (*it)->unconfirmed();
        }
        m_droppedRetransmissions += (*it)->retransmissions();
        m_droppedAcknowledged = std::max(m_droppedAcknowledged, (*it)->bytesAcknowledged());
        it = m_transfers.erase(it);
    }
    if (m_phase == Phase::Transferring && m_transfers.empty())
        fail(m_transferFailure);
}

FlashObserver::Progress DeviceSession::progress() const
{
    FlashObserver::Progress progress;
    progress.imageSize = m_target.image.size();
    progress.retransmissions = m_droppedRetransmissions;
    progress.bytesAcknowledged = m_droppedAcknowledged;
    for (const auto &transfer : m_transfers) {
        progress.bytesAcknowledged = std::max(progress.bytesAcknowledged, transfer->bytesAcknowledged());
        progress.retransmissions += transfer->retransmissions();
    }
    return progress;
}

void DeviceSession::finish(Clock::time_point now, const TftpTransfer &transfer)
{
    FlashObserver::Outcome outcome;
    outcome.flashed = true;
    outcome.seconds = std::chrono::duration<double>(now - m_start).count();
    outcome.bytes = m_target.image.size();
    outcome.retransmissions = transfer.retransmissions();
    if (m_transfers.size() > 1)
        m_observer.note(m_index, "The transfer to " + addressText(transfer.client().sin_addr) + ":"
                                     + std::to_string(ntohs(transfer.client().sin_port))
                                     + " took every block; ending " + std::to_string(m_transfers.size() - 1)
                                     + " other transfer(s)");
    m_phase = Phase::Done;
    m_flashed = true;
    m_transfers.clear();
    m_observer.finished(m_index, outcome);
}

void DeviceSession::fail(const std::string &reason)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    FlashObserver::Outcome outcome;
    outcome.error = reason;
    outcome.unconfirmed = m_unconfirmed && reason == m_transferFailure;
    if (m_start != Clock::time_point{})
        outcome.seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const FlashObserver::Progress reached = progress();
    outcome.bytes = reached.bytesAcknowledged;
    outcome.retransmissions = reached.retransmissions;
    m_transfers.clear();
    m_observer.finished(m_index, outcome);
}
