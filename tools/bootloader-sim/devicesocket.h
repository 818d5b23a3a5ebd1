#pragma once

#include "bootpackets.h"
#include "linkimpairment.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>

// One UDP port of the simulated device, bound to the device's own address
// as a real device's stack is, so that several simulated devices share a
// host without sharing ports. On an interface that can broadcast, a second
// socket takes the broadcasts that arrive there for the same port (magic
// packets and broadcast BOOTP replies). Throws SessionEnd when the port
// cannot be had. With a LinkImpairment, what goes out and what comes in
// passes through it: packets are lost, doubled or held back and delivered
// while the socket waits for the next one.
class DeviceSocket
{
public:
    using Clock = std::chrono::steady_clock;

    // `interfaceName` empty: loopback, where nothing is broadcast.
    DeviceSocket(in_addr address, std::uint16_t port, const std::string &interfaceName,
                 LinkImpairment *impairment = nullptr);
    ~DeviceSocket();
    DeviceSocket(const DeviceSocket &) = delete;
    DeviceSocket &operator=(const DeviceSocket &) = delete;

    void send(const sockaddr_in &to, const bootpackets::Bytes &bytes) const;

    // Waits until `until` at the latest; nothing when the time is up. Ends
    // the session when `stop` is set.
    std::optional<bootpackets::Bytes> receive(Clock::time_point until, const std::atomic<bool> &stop,
                                              sockaddr_in *from) const;

private:
    struct Held
    {
        bootpackets::Bytes bytes;
        sockaddr_in peer{};
    };

    void sendNow(const sockaddr_in &to, const bootpackets::Bytes &bytes) const;
    void sendWhatIsDue(Clock::time_point now) const;

    int m_fd = -1;
    int m_broadcastFd = -1;
    LinkImpairment *m_impairment = nullptr;
    // By the time they are due: packets on their way out, and in.
    mutable std::multimap<Clock::time_point, Held> m_outgoing;
    mutable std::multimap<Clock::time_point, Held> m_incoming;
};
