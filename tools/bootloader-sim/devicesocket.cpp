#include "devicesocket.h"

#include "ipv4address.h"
#include "sessionend.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr DeviceSocket::Clock::duration pollSlice = std::chrono::milliseconds(100);

[[noreturn]] void failed(const std::string &what)
{
    throw SessionEnd{BootLoaderSim::Result::Outcome::Failed, what + ": " + std::strerror(errno)};
}

int openBound(in_addr address, std::uint16_t port, const std::string &interfaceName, bool shared)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        failed("socket");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Every device on the interface hears the same broadcasts.
    if (shared)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!interfaceName.empty()
        && setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                      static_cast<socklen_t>(interfaceName.size()))
            != 0) {
        close(fd);
        failed("cannot bind to interface " + interfaceName);
    }
    const sockaddr_in local = bootpackets::endpoint(address, port);
    if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        failed("cannot use UDP port " + std::to_string(port) + " on " + addressText(address));
    }
    return fd;
}

}

DeviceSocket::DeviceSocket(in_addr address, std::uint16_t port, const std::string &interfaceName,
                           LinkImpairment *impairment)
    : m_impairment(impairment && !impairment->isClean() ? impairment : nullptr)
{
    m_fd = openBound(address, port, interfaceName, false);
    if (port == 0 || interfaceName.empty())
        return;
    in_addr broadcast{};
    broadcast.s_addr = htonl(INADDR_BROADCAST);
    try {
        m_broadcastFd = openBound(broadcast, port, interfaceName, true);
    } catch (...) {
        close(m_fd);
        throw;
    }
}

DeviceSocket::~DeviceSocket()
{
    close(m_fd);
    if (m_broadcastFd >= 0)
        close(m_broadcastFd);
}

void DeviceSocket::sendNow(const sockaddr_in &to, const bootpackets::Bytes &bytes) const
{
    sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

void DeviceSocket::send(const sockaddr_in &to, const bootpackets::Bytes &bytes) const
{
    if (!m_impairment)
        return sendNow(to, bytes);
    const auto now = Clock::now();
    for (const auto delay : m_impairment->fate(LinkImpairment::Direction::FromDevice)) {
        if (delay == Clock::duration::zero())
            sendNow(to, bytes);
        else
            m_outgoing.emplace(now + delay, Held{bytes, to});
    }
}

void DeviceSocket::sendWhatIsDue(Clock::time_point now) const
{
    while (!m_outgoing.empty() && m_outgoing.begin()->first <= now) {
        sendNow(m_outgoing.begin()->second.peer, m_outgoing.begin()->second.bytes);
        m_outgoing.erase(m_outgoing.begin());
    }
}

std::optional<bootpackets::Bytes> DeviceSocket::receive(Clock::time_point until, const std::atomic<bool> &stop,
                                                        sockaddr_in *from) const
{
    pollfd entries[2] = {{m_fd, POLLIN, 0}, {m_broadcastFd, POLLIN, 0}};
    const nfds_t count = m_broadcastFd >= 0 ? 2 : 1;
    for (;;) {
        if (stop)
            throw SessionEnd{BootLoaderSim::Result::Outcome::Stopped, "stopped"};
        const auto now = Clock::now();
        sendWhatIsDue(now);
        if (!m_incoming.empty() && m_incoming.begin()->first <= now) {
            *from = m_incoming.begin()->second.peer;
            bootpackets::Bytes bytes = std::move(m_incoming.begin()->second.bytes);
            m_incoming.erase(m_incoming.begin());
            return bytes;
        }
        if (now >= until)
            return std::nullopt;
        auto wake = std::min(until, now + pollSlice);
        if (!m_outgoing.empty())
            wake = std::min(wake, m_outgoing.begin()->first);
        if (!m_incoming.empty())
            wake = std::min(wake, m_incoming.begin()->first);
        const int wait = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wake - now).count());
        if (poll(entries, count, wait) <= 0)
            continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (!(entries[i].revents & POLLIN))
                continue;
            static thread_local std::uint8_t buffer[65536];
            socklen_t length = sizeof *from;
            const ssize_t size = recvfrom(entries[i].fd, buffer, sizeof buffer, 0,
                                          reinterpret_cast<sockaddr *>(from), &length);
            if (size < 0)
                continue;
            if (!m_impairment)
                return bootpackets::Bytes(buffer, buffer + size);
            const auto arrived = Clock::now();
            for (const auto delay : m_impairment->fate(LinkImpairment::Direction::ToDevice))
                m_incoming.emplace(arrived + delay, Held{bootpackets::Bytes(buffer, buffer + size), *from});
        }
    }
}
