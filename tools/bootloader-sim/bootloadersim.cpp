#include "bootloadersim.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t magicPort = 9, bootServerPort = 67, bootClientPort = 68, tftpPort = 69;
constexpr std::size_t bootpSize = 300, tftpBlock = 512;
constexpr std::uint16_t opRrq = 1, opData = 3, opAck = 4, opError = 5;
constexpr Clock::duration pollSlice = std::chrono::milliseconds(100);

// Thrown inside a session to end it; never leaves the class.
struct SessionEnd
{
    BootLoaderSim::Result::Outcome outcome;
    std::string reason;
};

bool isLoopback(in_addr address)
{
    return (ntohl(address.s_addr) >> 24) == 127;
}

std::string text(in_addr address)
{
    char buffer[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, buffer, sizeof buffer);
    return buffer;
}

sockaddr_in endpoint(in_addr address, std::uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr = address;
    result.sin_port = htons(port);
    return result;
}

std::uint16_t word(const Bytes &bytes, std::size_t at)
{
    return bytes.size() < at + 2 ? 0 : static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

Bytes tftpPacket(std::uint16_t opcode, std::uint16_t number)
{
    return {static_cast<std::uint8_t>(opcode >> 8), static_cast<std::uint8_t>(opcode),
            static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

class Socket
{
public:
    Socket() = default;
    ~Socket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    void open(in_addr address, std::uint16_t port, const std::string &device)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            throw SessionEnd{BootLoaderSim::Result::Outcome::Failed, std::string("socket: ") + std::strerror(errno)};
        const int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        if (!device.empty()
            && setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(), static_cast<socklen_t>(device.size())) != 0)
            throw SessionEnd{BootLoaderSim::Result::Outcome::Failed,
                             "cannot bind to interface " + device + ": " + std::strerror(errno)};
        const sockaddr_in local = endpoint(address, port);
        if (bind(m_fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
            throw SessionEnd{BootLoaderSim::Result::Outcome::Failed,
                             "cannot use UDP port " + std::to_string(port) + " on " + text(address) + ": "
                                 + std::strerror(errno)};
    }

    void send(const sockaddr_in &to, const Bytes &bytes) const
    {
        sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    // Waits until `until` at the latest; nothing when the time is up or a
    // stop was asked for.
    std::optional<Bytes> receive(Clock::time_point until, const std::atomic<bool> &stop, sockaddr_in *from) const
    {
        for (;;) {
            if (stop)
                throw SessionEnd{BootLoaderSim::Result::Outcome::Stopped, "stopped"};
            const auto now = Clock::now();
            if (now >= until)
                return std::nullopt;
            const auto slice = std::min<Clock::duration>(until - now, pollSlice);
            pollfd entry{m_fd, POLLIN, 0};
            const int wait = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
            if (poll(&entry, 1, wait) <= 0)
                continue;
            static thread_local std::uint8_t buffer[65536];
            socklen_t length = sizeof *from;
            const ssize_t size = recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(from), &length);
            if (size < 0)
                continue;
            return Bytes(buffer, buffer + size);
        }
    }

private:
    int m_fd = -1;
};

}

class BootLoaderSim::Session
{
public:
    Session(const Settings &settings, const std::atomic<bool> &stop, Result &result)
        : m_settings(settings)
        , m_stop(stop)
        , m_result(result)
    {
    }

    void run()
    {
        const bool loopback = isLoopback(m_settings.address);
        m_device = loopback ? std::string() : interfaceOf(m_settings.address);
        // Loopback devices share the host's ports, so each binds its own
        // address; on a real link broadcasts must reach us, so we bind them all.
        in_addr any{};
        m_listenAddress = loopback ? m_settings.address : any;

        if (m_settings.tftpOnly) {
            m_result.serverAddress = m_settings.tftpServer;
            m_result.bootFile = m_settings.tftpFile;
        } else {
            waitForMagicPacket();
            pause(m_settings.bootDelay);
            askForAddress(loopback);
        }
        fetchImage();
    }

private:
    std::string interfaceOf(in_addr address) const
    {
        if (!m_settings.interfaceName.empty())
            return m_settings.interfaceName;
        ifaddrs *list = nullptr;
        std::string name;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs *entry = list; entry; entry = entry->ifa_next) {
                if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET
                    && reinterpret_cast<const sockaddr_in *>(entry->ifa_addr)->sin_addr.s_addr == address.s_addr) {
                    name = entry->ifa_name;
                    break;
                }
            }
            freeifaddrs(list);
        }
        if (name.empty())
            throw SessionEnd{Result::Outcome::Failed, "no interface holds the address " + text(address)};
        return name;
    }

    void pause(Milliseconds duration) const
    {
        const auto end = Clock::now() + duration;
        while (Clock::now() < end) {
            if (m_stop)
                throw SessionEnd{Result::Outcome::Stopped, "stopped"};
            std::this_thread::sleep_for(std::min<Clock::duration>(end - Clock::now(), pollSlice));
        }
    }

    void waitForMagicPacket()
    {
        Socket socket;
        socket.open(m_listenAddress, magicPort, m_device);
        Bytes expected(6, 0xaa);
        for (int copy = 0; copy < 4; ++copy)
            expected.insert(expected.end(), m_settings.mac.begin(), m_settings.mac.end());

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
        throw SessionEnd{Result::Outcome::Failed, "no magic packet within the wait"};
    }

    Bytes bootRequest(std::uint32_t xid) const
    {
        Bytes request(bootpSize, 0);
        request[0] = 1; // BOOTREQUEST
        request[1] = 1; // Ethernet
        request[2] = 6;
        std::memcpy(&request[4], &xid, 4);
        if (m_settings.broadcastFlag)
            request[10] = 0x80;
        std::copy(m_settings.mac.begin(), m_settings.mac.end(), request.begin() + 28);
        std::copy_n(m_settings.serverName.begin(), std::min<std::size_t>(m_settings.serverName.size(), 63),
                    request.begin() + 44);
        return request;
    }

    void askForAddress(bool loopback)
    {
        Socket socket;
        socket.open(m_listenAddress, bootClientPort, m_device);
        in_addr server = m_settings.bootServer;
        if (server.s_addr == 0)
            server.s_addr = loopback ? htonl(INADDR_LOOPBACK) : htonl(INADDR_BROADCAST);

        std::uint32_t xid = std::random_device{}();
        const Bytes request = bootRequest(xid);
        int ignored = 0;
        for (int attempt = 0; attempt < m_settings.bootAttempts; ++attempt) {
            socket.send(endpoint(server, bootServerPort), request);
            ++m_result.bootRequests;
            const auto end = Clock::now() + m_settings.bootRetryInterval;
            sockaddr_in from{};
            while (auto reply = socket.receive(end, m_stop, &from)) {
                if (reply->size() < 236 || (*reply)[0] != 2 || std::memcmp(&(*reply)[4], &xid, 4) != 0
                    || !std::equal(m_settings.mac.begin(), m_settings.mac.end(), reply->begin() + 28))
                    continue;
                if (ignored++ < m_settings.ignoreBootReplies)
                    continue;
                std::memcpy(&m_result.assignedAddress, &(*reply)[16], 4);
                std::memcpy(&m_result.serverAddress, &(*reply)[20], 4);
                const char *file = reinterpret_cast<const char *>(&(*reply)[108]);
                m_result.bootFile.assign(file, strnlen(file, 128));
                return;
            }
        }
        throw SessionEnd{Result::Outcome::Failed,
                         "no BOOTP reply after " + std::to_string(m_settings.bootAttempts) + " requests"};
    }

    void fetchImage()
    {
        Socket socket;
        socket.open(m_settings.address, 0, m_device);
        Bytes request{0, opRrq};
        request.insert(request.end(), m_result.bootFile.begin(), m_result.bootFile.end());
        request.push_back(0);
        const std::string mode = "octet";
        request.insert(request.end(), mode.begin(), mode.end());
        request.push_back(0);

        const sockaddr_in server = endpoint(m_result.serverAddress, tftpPort);
        std::optional<sockaddr_in> serverTid;
        Bytes lastSent = request;
        sockaddr_in lastDestination = server;
        std::set<int> dropped;
        std::uint16_t expected = 1;
        int retries = 0;
        const auto started = Clock::now();
        socket.send(server, request);

        for (;;) {
            sockaddr_in from{};
            const auto packet = socket.receive(Clock::now() + m_settings.tftpTimeout, m_stop, &from);
            if (!packet) {
                if (++retries > m_settings.tftpRetries)
                    throw SessionEnd{Result::Outcome::Failed,
                                     "TFTP server stopped sending after block " + std::to_string(expected - 1)};
                socket.send(lastDestination, lastSent);
                continue;
            }
            if (serverTid && (from.sin_addr.s_addr != serverTid->sin_addr.s_addr || from.sin_port != serverTid->sin_port)) {
                // RFC 1350: a stranger gets an error, the transfer goes on.
                ++m_result.strayPackets;
                Bytes error = tftpPacket(opError, 5);
                const std::string message = "Unknown transfer ID";
                error.insert(error.end(), message.begin(), message.end());
                error.push_back(0);
                socket.send(from, error);
                continue;
            }
            const std::uint16_t opcode = word(*packet, 0);
            if (opcode == opError) {
                const auto begin = packet->begin() + std::min<std::size_t>(4, packet->size());
                throw SessionEnd{Result::Outcome::Failed,
                                 "TFTP error " + std::to_string(word(*packet, 2)) + " from the server: "
                                     + std::string(begin, std::find(begin, packet->end(), 0))};
            }
            if (opcode != opData || packet->size() < 4)
                continue;
            const std::uint16_t block = word(*packet, 2);
            if (!serverTid) {
                if (block != 1 || from.sin_addr.s_addr != server.sin_addr.s_addr)
                    continue;
                serverTid = from;
            }
            // An oversized block would pass for a full one and grow the image.
            if (packet->size() - 4 > tftpBlock)
                throw SessionEnd{Result::Outcome::Failed, "DATA block " + std::to_string(block) + " carries "
                                     + std::to_string(packet->size() - 4) + " bytes, more than 512"};
            if (block == static_cast<std::uint16_t>(expected - 1) && m_result.blocks > 0) {
                m_result.duplicateBlocks.push_back(block);
                acknowledge(socket, *serverTid, block, &lastSent);
                continue;
            }
            if (block != expected)
                continue;
            if (m_settings.dropDataEvery > 0 && block % m_settings.dropDataEvery == 0
                && dropped.insert(block).second)
                continue;
            if (m_settings.errorAtBlock == block) {
                Bytes error = tftpPacket(opError, m_settings.errorCode);
                error.insert(error.end(), m_settings.errorMessage.begin(), m_settings.errorMessage.end());
                error.push_back(0);
                socket.send(*serverTid, error);
                throw SessionEnd{Result::Outcome::Aborted,
                                 "sent TFTP error " + std::to_string(m_settings.errorCode) + " at block " + std::to_string(block)};
            }
            const std::size_t size = packet->size() - 4;
            if (m_result.image.size() + size > m_settings.maximumImageSize)
                throw SessionEnd{Result::Outcome::Failed, "image larger than the device's flash"};
            m_result.image.insert(m_result.image.end(), packet->begin() + 4, packet->end());
            ++m_result.blocks;
            m_result.lastBlockSize = size;
            retries = 0;
            ++expected;
            if (m_settings.silentAfterBlock == block)
                throw SessionEnd{Result::Outcome::Aborted, "fell silent after block " + std::to_string(block)};
            if (m_settings.slowAckEvery > 0 && block % m_settings.slowAckEvery == 0)
                pause(m_settings.slowAckDelay);
            acknowledge(socket, *serverTid, block, &lastSent);
            lastDestination = *serverTid;
            if (size < tftpBlock) {
                m_result.transferSeconds = std::chrono::duration<double>(Clock::now() - started).count();
                dally(socket, *serverTid, block);
                return;
            }
        }
    }

    void acknowledge(const Socket &socket, const sockaddr_in &to, std::uint16_t block, Bytes *lastSent) const
    {
        *lastSent = tftpPacket(opAck, block);
        socket.send(to, *lastSent);
        if (m_settings.duplicateAcks)
            socket.send(to, *lastSent);
    }

    void dally(const Socket &socket, const sockaddr_in &server, std::uint16_t lastBlock)
    {
        const auto end = Clock::now() + m_settings.dally;
        sockaddr_in from{};
        Bytes ack;
        while (auto packet = socket.receive(end, m_stop, &from)) {
            if (word(*packet, 0) == opData && word(*packet, 2) == lastBlock) {
                m_result.duplicateBlocks.push_back(lastBlock);
                acknowledge(socket, server, lastBlock, &ack);
            }
        }
    }

    const Settings &m_settings;
    const std::atomic<bool> &m_stop;
    Result &m_result;
    std::string m_device;
    in_addr m_listenAddress{};
};

BootLoaderSim::BootLoaderSim(Settings settings)
    : m_settings(std::move(settings))
{
}

BootLoaderSim::~BootLoaderSim()
{
    stop();
    wait();
}

BootLoaderSim::Result BootLoaderSim::run()
{
    m_stopRequested = false;
    return runSession();
}

BootLoaderSim::Result BootLoaderSim::runSession()
{
    Result result;
    try {
        Session(m_settings, m_stopRequested, result).run();
        result.outcome = Result::Outcome::Received;
    } catch (const SessionEnd &end) {
        result.outcome = end.outcome;
        result.reason = end.reason;
    }
    std::lock_guard<std::mutex> lock(m_resultMutex);
    m_result = result;
    return result;
}

void BootLoaderSim::start(std::function<void(const Result &)> onFinished)
{
    wait();
    m_stopRequested = false;
    m_running = true;
    m_thread = std::thread([this, onFinished = std::move(onFinished)] {
        const Result result = runSession();
        m_running = false;
        if (onFinished)
            onFinished(result);
    });
}

void BootLoaderSim::stop()
{
    m_stopRequested = true;
}

void BootLoaderSim::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

BootLoaderSim::Result BootLoaderSim::result() const
{
    std::lock_guard<std::mutex> lock(m_resultMutex);
    return m_result;
}

const char *BootLoaderSim::outcomeName(Result::Outcome outcome)
{
    switch (outcome) {
    case Result::Outcome::Received:
        return "received";
    case Result::Outcome::Aborted:
        return "aborted";
    case Result::Outcome::Stopped:
        return "stopped";
    case Result::Outcome::Failed:
        break;
    }
    return "failed";
}
