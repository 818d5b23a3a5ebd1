#include "bootsession.h"

#include "arpsilence.h"
#include "devicesocket.h"
#include "linkroute.h"
#include "sessionend.h"

#include <algorithm>
#include <optional>
#include <random>
#include <thread>

using namespace bootpackets;
using Clock = DeviceSocket::Clock;

namespace {

constexpr Clock::duration pauseSlice = std::chrono::milliseconds(100);

bool sameEndpoint(const sockaddr_in &a, const sockaddr_in &b)
{
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}

BootSession::BootSession(const BootLoaderSim::Settings &settings, const std::atomic<bool> &stop,
                         BootLoaderSim::Result &result, std::function<void()> onEntered)
    : m_settings(settings)
    , m_stop(stop)
    , m_result(result)
    , m_onEntered(std::move(onEntered))
    , m_link(settings.link)
{
}

void BootSession::run()
{
    const bool loopback = isLoopbackAddress(m_settings.address);
    m_device = loopback ? std::string() : interfaceOf(m_settings.address);
    if (m_settings.tftpOnly) {
        m_result.serverAddress = m_settings.tftpServer;
        m_result.bootFile = m_settings.tftpFile;
    } else {
        std::optional<ArpSilence> noAddressYet;
        if (m_settings.arpOnceAddressed && !loopback)
            noAddressYet.emplace(m_device);
        waitForMagicPacket();
        if (m_onEntered)
            m_onEntered();
        pause(m_settings.bootDelay);
        askForAddress(loopback);
    }
    fetchImage();
}

std::string BootSession::interfaceOf(in_addr address) const
{
    if (!m_settings.interfaceName.empty())
        return m_settings.interfaceName;
    const std::optional<LinkRoute> holder = findLocalInterface(address);
    if (!holder)
        throw SessionEnd{Outcome::Failed, "no interface holds the address " + addressText(address)};
    return holder->interfaceName;
}

void BootSession::pause(Milliseconds duration) const
{
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        if (m_stop)
            throw SessionEnd{Outcome::Stopped, "stopped"};
        std::this_thread::sleep_for(std::min<Clock::duration>(end - Clock::now(), pauseSlice));
    }
}

void BootSession::waitForMagicPacket()
{
    const DeviceSocket socket(m_settings.address, magicPort, m_device, &m_link);
    const Bytes expected = magicPacket(m_settings.mac);
    const auto end = Clock::now() + m_settings.magicWait;
    sockaddr_in from{};
    while (auto packet = socket.receive(end, m_stop, &from)) {
        if (*packet != expected) {
            ++m_result.foreignPackets;
            continue;
        }
        if (++m_result.magicPackets > m_settings.ignoreMagicPackets)
            return;
    }
    throw SessionEnd{Outcome::Failed, "no magic packet within the wait"};
}

void BootSession::askForAddress(bool loopback)
{
    const DeviceSocket socket(m_settings.address, bootClientPort, m_device, &m_link);
    in_addr server = m_settings.bootServer;
    if (server.s_addr == 0)
        server.s_addr = loopback ? htonl(INADDR_LOOPBACK) : htonl(INADDR_BROADCAST);

    const std::uint32_t xid = std::random_device{}();
    const Bytes request = bootRequest(xid, m_settings.mac, m_settings.serverName, m_settings.broadcastFlag);
    int ignored = 0;
    for (int attempt = 0; attempt < m_settings.bootAttempts; ++attempt) {
        socket.send(endpoint(server, bootServerPort), request);
        ++m_result.bootRequests;
        const auto end = Clock::now() + m_settings.bootRetryInterval;
        sockaddr_in from{};
        while (auto datagram = socket.receive(end, m_stop, &from)) {
            const std::optional<BootReply> reply = readBootReply(*datagram, xid, m_settings.mac);
            if (!reply || ignored++ < m_settings.ignoreBootReplies)
                continue;
            m_result.assignedAddress = reply->assignedAddress;
            m_result.serverAddress = reply->serverAddress;
            m_result.bootFile = reply->bootFile;
            return;
        }
    }
    throw SessionEnd{Outcome::Failed, "no BOOTP reply after " + std::to_string(m_settings.bootAttempts) + " requests"};
}

void BootSession::fetchImage()
{
    const DeviceSocket socket(m_settings.address, 0, m_device, &m_link);
    m_lastSent = tftpReadRequest(m_result.bootFile);
    m_lastDestination = endpoint(m_result.serverAddress, tftpPort);
    socket.send(m_lastDestination, m_lastSent);
    const auto started = Clock::now();
    int retries = 0;

    for (;;) {
        sockaddr_in from{};
        const auto packet = socket.receive(Clock::now() + m_settings.tftpTimeout, m_stop, &from);
        if (!packet) {
            if (++retries > m_settings.tftpRetries)
                throw SessionEnd{Outcome::Failed, "TFTP server stopped sending after block "
                                                      + std::to_string(m_expectedBlock - 1)};
            socket.send(m_lastDestination, m_lastSent);
            continue;
        }
        if (m_haveServerTid && !sameEndpoint(from, m_serverTid)) {
            // RFC 1350: a stranger gets an error, the transfer goes on.
            ++m_result.strayPackets;
            socket.send(from, tftpError(5, "Unknown transfer ID"));
            continue;
        }
        const std::uint16_t opcode = word(*packet, 0);
        if (opcode == opError)
            throw SessionEnd{Outcome::Failed, "TFTP error " + std::to_string(word(*packet, 2))
                                                  + " from the server: " + tftpErrorText(*packet)};
        if (opcode != opData || packet->size() < 4)
            continue;
        if (!m_haveServerTid) {
            if (word(*packet, 2) != 1 || from.sin_addr.s_addr != m_result.serverAddress.s_addr)
                continue;
            m_serverTid = from;
            m_haveServerTid = true;
        }
        const int blocksBefore = m_result.blocks;
        const bool finished = takeBlock(socket, *packet);
        if (m_result.blocks != blocksBefore)
            retries = 0;
        if (finished) {
            m_result.transferSeconds = std::chrono::duration<double>(Clock::now() - started).count();
            dally(socket, static_cast<std::uint16_t>(m_expectedBlock - 1));
            return;
        }
    }
}

bool BootSession::takeBlock(const DeviceSocket &socket, const Bytes &packet)
{
    const std::uint16_t block = word(packet, 2);
    const std::size_t size = packet.size() - 4;
    if (block == static_cast<std::uint16_t>(m_expectedBlock - 1) && m_result.blocks > 0) {
        m_result.duplicateBlocks.push_back(block);
        acknowledge(socket, block);
        return false;
    }
    if (block != m_expectedBlock)
        return false;
    if (size > tftpBlockSize) {
        // RFC 1350 blocks hold at most 512 bytes; a device would overrun its buffer.
        socket.send(m_serverTid, tftpError(4, "Block larger than 512 bytes"));
        throw SessionEnd{Outcome::Failed, "block " + std::to_string(block) + " holds " + std::to_string(size)
                                              + " bytes, more than 512"};
    }
    const bool dropThisOne = m_settings.dropDataEvery > 0 && block % m_settings.dropDataEvery == 0
        && std::find(m_droppedBlocks.begin(), m_droppedBlocks.end(), block) == m_droppedBlocks.end();
    if (dropThisOne) {
        m_droppedBlocks.push_back(block);
        return false;
    }
    if (m_settings.errorAtBlock == block) {
        socket.send(m_serverTid, tftpError(m_settings.errorCode, m_settings.errorMessage));
        throw SessionEnd{Outcome::Aborted, "sent TFTP error " + std::to_string(m_settings.errorCode)
                                               + " at block " + std::to_string(block)};
    }
    if (m_result.image.size() + size > m_settings.maximumImageSize)
        throw SessionEnd{Outcome::Failed, "image larger than the device's flash"};
    m_result.image.insert(m_result.image.end(), packet.begin() + 4, packet.end());
    ++m_result.blocks;
    m_result.lastBlockSize = size;
    ++m_expectedBlock;
    if (m_settings.silentAfterBlock == block)
        throw SessionEnd{Outcome::Aborted, "fell silent after block " + std::to_string(block)};
    if (m_settings.dropFinalAck && size < tftpBlockSize)
        throw SessionEnd{Outcome::Aborted, "dropped the last block's acknowledgement and kept the old image"};
    const bool slower = m_settings.slowerFromBlock > 0 && block >= m_settings.slowerFromBlock;
    pause(slower ? m_settings.laterBlockWrite : m_settings.blockWrite);
    if (m_settings.slowAckEvery > 0 && block % m_settings.slowAckEvery == 0)
        pause(m_settings.slowAckDelay);
    acknowledge(socket, block);
    m_lastDestination = m_serverTid;
    return size < tftpBlockSize;
}

void BootSession::acknowledge(const DeviceSocket &socket, std::uint16_t block)
{
    m_lastSent = tftpAck(block);
    socket.send(m_serverTid, m_lastSent);
    if (m_settings.duplicateAcks)
        socket.send(m_serverTid, m_lastSent);
}

void BootSession::dally(const DeviceSocket &socket, std::uint16_t lastBlock)
{
    const auto end = Clock::now() + m_settings.dally;
    sockaddr_in from{};
    while (auto packet = socket.receive(end, m_stop, &from)) {
        if (word(*packet, 0) == opData && word(*packet, 2) == lastBlock) {
            m_result.duplicateBlocks.push_back(lastBlock);
            acknowledge(socket, lastBlock);
        }
    }
}
