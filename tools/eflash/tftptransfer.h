#pragma once

#include "udpsocket.h"

#include <chrono>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

// Serves the image to one client from a transfer port of its own (the
// server's TID), one 512-byte block at a time, each block retransmitted until
// acknowledged or until the retries run out.
class TftpTransfer
{
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Running, Finished, Failed };

    static constexpr std::chrono::milliseconds retransmitInterval{1000};
    static constexpr int maximumRetransmissions = 5;

    TftpTransfer(const std::vector<std::uint8_t> &image, UdpSocket socket, const sockaddr_in &client);

    void start(Clock::time_point now);
    void handle(const UdpSocket::Datagram &datagram, Clock::time_point now);
    void handleTimeout(Clock::time_point now);
    // The client repeated its read request before our first block reached it.
    void handleRepeatedRequest(Clock::time_point now);
    // Called before start() when this transfer replaces `previous`.
    void continueRetriesOf(const TftpTransfer &previous);

    State state() const { return m_state; }
    const std::string &failure() const { return m_failure; }
    Clock::time_point deadline() const { return m_lastSent + retransmitInterval; }
    std::size_t bytesAcknowledged() const;
    const sockaddr_in &client() const { return m_client; }
    SocketHandle descriptor() const { return m_socket.descriptor(); }
    std::optional<UdpSocket::Datagram> receiveFromSocket() const { return m_socket.receive(); }
    std::uint16_t port() const { return m_socket.localPort(); }
    int retransmissions() const { return m_totalRetransmissions; }

private:
    void sendCurrentBlock(Clock::time_point now);
    void retransmit(Clock::time_point now, const std::string &why);

    const std::vector<std::uint8_t> &m_image;
    UdpSocket m_socket;
    sockaddr_in m_client;
    // An image ends with a block shorter than 512 bytes, so a size that is
    // a multiple of 512 gets an empty last block.
    std::uint16_t m_lastBlock;
    std::uint16_t m_block = 1;
    std::uint16_t m_acknowledged = 0;
    int m_retries = 0;
    bool m_startIsResend = false;
    int m_totalRetransmissions = 0;
    Clock::time_point m_lastSent;
    State m_state = State::Running;
    std::string m_failure;
};
