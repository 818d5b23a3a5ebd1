#include "fleetflasher.h"

#include "bootpmessage.h"
#include "tftppacket.h"

#include <algorithm>

namespace {

// Each socket gets a bounded batch per round, so that however fast packets
// come, every device's clocks are looked at again.
constexpr int receiveBatch = 64;

in_addr anyAddress()
{
    in_addr address{};
    address.s_addr = htonl(INADDR_ANY);
    return address;
}

int millisecondsUntil(FleetFlasher::Clock::time_point until, FleetFlasher::Clock::time_point now)
{
    if (until <= now)
        return 0;
    // Rounded up, so poll never wakes a hair before a deadline and spins.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return static_cast<int>(std::min<long long>(wait, 1000));
}

}

FleetFlasher::FleetFlasher(std::vector<FlashTarget> targets, std::chrono::milliseconds bootLoaderWait,
                           FlashObserver &observer)
    : m_observer(observer)
{
    m_link.bootLoaderWait = bootLoaderWait;
    for (FlashTarget &target : targets)
        m_sessions.push_back(std::make_unique<DeviceSession>(m_sessions.size(), std::move(target), m_link, observer));
}

FleetFlasher::~FleetFlasher() = default;

void FleetFlasher::failAll(const std::string &reason)
{
    for (auto &session : m_sessions)
        session->fail(reason);
}

void FleetFlasher::checkTargets()
{
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        const FlashTarget &target = m_sessions[i]->target();
        for (std::size_t earlier = 0; earlier < i; ++earlier) {
            const FlashTarget &other = m_sessions[earlier]->target();
            if (other.device.s_addr == target.device.s_addr)
                m_sessions[i]->fail("the address " + addressText(target.device) + " is listed twice");
            else if (other.mac == target.mac)
                m_sessions[i]->fail("the MAC address " + formatMacAddress(target.mac) + " is listed twice");
        }
    }
}

void FleetFlasher::checkImageSizes()
{
    for (auto &session : m_sessions) {
        const std::size_t size = session->target().image.size();
        if (size > maximumImageSize)
            session->fail("the image has " + std::to_string(size) + " bytes; TFTP can carry at most "
                          + std::to_string(maximumImageSize));
    }
}

bool FleetFlasher::openLink()
{
    if (m_linkOpen)
        return *m_linkOpen;
    checkTargets();
    m_linkOpen = chooseLink() && openSockets();
    if (*m_linkOpen)
        for (auto &session : m_sessions)
            session->prepareNeighbourTable();
    return *m_linkOpen;
}

void FleetFlasher::setImage(std::size_t index, std::vector<std::uint8_t> image)
{
    m_sessions.at(index)->setImage(std::move(image));
}

void FleetFlasher::leaveOut(std::size_t index, const std::string &reason)
{
    m_sessions.at(index)->fail(reason);
}

bool FleetFlasher::chooseLink()
{
    // One run serves one link: the interface the first reachable device is
    // routed through.
    bool haveLink = false;
    for (std::size_t i = 0; i < m_sessions.size(); ++i) {
        DeviceSession &session = *m_sessions[i];
        if (session.isDone())
            continue;
        const in_addr device = session.target().device;
        std::string error;
        const std::optional<LinkRoute> route = lookupRoute(device, &error);
        if (!route) {
            session.fail("no route to " + addressText(device) + ": " + error);
            continue;
        }
        if (haveLink && route->interfaceIndex != m_link.route.interfaceIndex) {
            session.fail("reached through " + route->interfaceName + ", not " + m_link.route.interfaceName
                         + " like the devices before it: one run serves one link");
            continue;
        }
        if (!haveLink)
            m_link.route = *route;
        haveLink = true;
        m_observer.note(i, "Reaching " + addressText(device) + " through " + route->interfaceName + " from "
                               + addressText(route->source)
                               + (route->viaGateway ? " (through a gateway: the boot loader will not hear us)" : ""));
    }
    return haveLink;
}

bool FleetFlasher::openSockets()
{
    const LinkRoute &route = m_link.route;
    std::string error;
    const auto open = [&](UdpSocket &socket, in_addr address, std::uint16_t port) {
        return socket.open(address, port, route.interfaceName, route.interfaceIndex, route.source, &error);
    };
    // BOOTP requests come as broadcasts, so that port listens on every
    // address; TFTP requests come to the address we hand out as the server's.
    if (!open(m_link.bootSocket, anyAddress(), BootpMessage::serverPort) || !open(m_link.tftpSocket, route.source, tftp::serverPort)
        || !open(m_link.magicSocket, route.source, 0)) {
        failAll(error);
        return false;
    }
    // Where this host's own BOOTP or DHCP client holds the port, or the
    // devices are this host's own addresses, we cannot or must not listen.
    if (!route.isLoopback)
        open(m_link.bootClientSocket, anyAddress(), BootpMessage::clientPort);
    if (!m_link.bootSocket.boundToDevice()) {
        for (std::size_t i = 0; i < m_sessions.size(); ++i)
            if (!m_sessions[i]->isDone())
                m_observer.note(i, "Note: cannot bind sockets to " + route.interfaceName
                                       + " (" + UdpSocket::boundToDeviceNeeds() + ")"
                                       + "; sending through it by address instead");
    }
    return true;
}

bool FleetFlasher::fromOurInterface(const UdpSocket::Datagram &datagram) const
{
    return datagram.interfaceIndex == 0 || datagram.interfaceIndex == m_link.route.interfaceIndex;
}

DeviceSession *FleetFlasher::activeSessionFor(in_addr address)
{
    for (auto &session : m_sessions)
        if (!session->isDone() && session->target().device.s_addr == address.s_addr)
            return session.get();
    return nullptr;
}

void FleetFlasher::handleBootPackets(Clock::time_point now)
{
    for (int count = 0; count < receiveBatch; ++count) {
        const auto datagram = m_link.bootSocket.receive();
        if (!datagram)
            break;
        if (!fromOurInterface(*datagram))
            continue;
        // Only a listed MAC address is answered.
        const BootpMessage request(datagram->bytes);
        for (auto &session : m_sessions)
            if (session->handleBootRequest(request, now))
                break;
    }
}

void FleetFlasher::handleBootClientPackets()
{
    for (int count = 0; count < receiveBatch; ++count) {
        const auto datagram = m_link.bootClientSocket.receive();
        if (!datagram)
            break;
        // Our own broadcast replies come back here too.
        if (!fromOurInterface(*datagram) || datagram->from.sin_addr.s_addr == m_link.route.source.s_addr)
            continue;
        const BootpMessage reply(datagram->bytes);
        for (auto &session : m_sessions)
            if (reply.isReplyTo(session->target().mac))
                session->noteForeignBootReply(datagram->from.sin_addr);
    }
}

void FleetFlasher::handleTftpPackets(Clock::time_point now)
{
    for (int count = 0; count < receiveBatch; ++count) {
        const auto datagram = m_link.tftpSocket.receive();
        if (!datagram)
            break;
        if (fromOurInterface(*datagram))
            handleTftpDatagram(*datagram, now);
    }
}

void FleetFlasher::handleTftpDatagram(const UdpSocket::Datagram &datagram, Clock::time_point now)
{
    const auto refuse = [&](std::uint16_t code, const std::string &message) {
        m_link.tftpSocket.sendTo(datagram.from, tftp::makeError(code, message));
    };
    // An error is never answered, from anyone: a forged one from our own
    // port would have us answer ourselves for ever.
    if (tftp::opcodeOf(datagram.bytes) == tftp::Error)
        return;
    const std::optional<tftp::ReadRequestFields> request = tftp::parseReadRequest(datagram.bytes);
    if (!request)
        return refuse(tftp::IllegalOperation, "Illegal TFTP operation");
    DeviceSession *session = activeSessionFor(datagram.from.sin_addr);
    if (!session)
        return refuse(tftp::AccessViolation, "Only the device being flashed may read the image");
    if (request->mode != "octet")
        return refuse(tftp::IllegalOperation, "Only octet mode is supported");
    session->handleReadRequest(datagram.from, request->fileName, now);
}

bool FleetFlasher::run()
{
    if (!openLink())
        return false;
    checkImageSizes();
    const auto start = Clock::now();
    for (auto &session : m_sessions)
        if (!session->isDone())
            session->start(start);

    std::vector<pollfd> sockets;
    std::vector<SocketHandle> descriptors;
    std::vector<DeviceSession *> transferOwners;
    const int fixedSockets = 3;
    for (;;) {
        auto now = Clock::now();
        auto wake = Clock::time_point::max();
        bool anyActive = false;
        for (auto &session : m_sessions) {
            if (!session->isDone())
                session->tick(now);
            if (!session->isDone()) {
                anyActive = true;
                wake = std::min(wake, session->nextWake());
            }
        }
        if (!anyActive)
            break;

        // An entry without a socket is left alone: the client port may be closed.
        sockets = {{m_link.bootSocket.descriptor(), POLLIN, 0},
                   {m_link.tftpSocket.descriptor(), POLLIN, 0},
                   {m_link.bootClientSocket.descriptor(), POLLIN, 0}};
        transferOwners.clear();
        for (auto &session : m_sessions) {
            descriptors.clear();
            session->appendTransferDescriptors(descriptors);
            for (const SocketHandle descriptor : descriptors) {
                sockets.push_back({descriptor, POLLIN, 0});
                transferOwners.push_back(session.get());
            }
        }
        if (pollSockets(sockets.data(), sockets.size(), millisecondsUntil(wake, now)) < 0
            && lastSocketFailure() != SocketFailure::Interrupted) {
            failAll("waiting for the devices failed: " + lastSocketErrorText());
            break;
        }
        now = Clock::now();
        if (sockets[0].revents & POLLIN)
            handleBootPackets(now);
        if (sockets[1].revents & POLLIN)
            handleTftpPackets(now);
        if (sockets[2].revents & POLLIN)
            handleBootClientPackets();
        // Each session reads all its transfer sockets at once; a read
        // request above may have added or ended some of them.
        DeviceSession *served = nullptr;
        for (std::size_t i = 0; i < transferOwners.size(); ++i) {
            if ((sockets[i + fixedSockets].revents & POLLIN) && transferOwners[i] != served) {
                served = transferOwners[i];
                served->handleTransferPackets(now, receiveBatch);
            }
        }
    }
    return std::all_of(m_sessions.begin(), m_sessions.end(), [](const auto &session) { return session->flashed(); });
}
