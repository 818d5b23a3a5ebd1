#pragma once

#include "retransmissiontimer.h"
#include "udpsocket.h"

#include <chrono>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

// Serves the image to one client from a transfer port of its own (the
// server's TID), one 512-byte block at a time, each block retransmitted until
// acknowledged or until the retries run out. The wait before a resend
// follows the round trip (RetransmissionTimer), so that on a LAN a lost block
// costs milliseconds, not a second.
class TftpTransfer
{
public:
    using Clock = std::chrono::steady_clock;
    enum class State { Running, Finished, Failed };

    // Unanswered retransmissions at the full interval before giving up:
    // faster ones before them do not count, so a device that falls silent
    // gets as long as ever (about six seconds) before it is given up.
    static constexpr int maximumRetransmissions = 5;

    TftpTransfer(const std::vector<std::uint8_t> &image, UdpSocket socket, const sockaddr_in &client);

    void start(Clock::time_point now);
    void handle(const UdpSocket::Datagram &datagram, Clock::time_point now);
    void handleTimeout(Clock::time_point now);
    // The client repeated its read request before our first block reached it.
    void handleRepeatedRequest(Clock::time_point now);
    // Called before start() when this transfer starts while `other`, for the
    // same device, has had nothing acknowledged: this one takes over its
    // retries, `other` keeps its own.
    void continueRetriesOf(const TftpTransfer &other);

    State state() const { return m_state; }
    const std::string &failure() const { return m_failure; }
    // Every block went out and only the last acknowledgement is missing.
    bool unconfirmed() const { return m_unconfirmed; }
    Clock::time_point deadline() const { return m_lastSent + m_timer.timeout(); }
    std::size_t bytesAcknowledged() const;
    const sockaddr_in &client() const { return m_client; }
    SocketHandle descriptor() const { return m_socket.descriptor(); }
    std::optional<UdpSocket::Datagram> receiveFromSocket() const { return m_socket.receive(); }
    std::uint16_t port() const { return m_socket.localPort(); }
    int retransmissions() const { return m_totalRetransmissions; }

private:
    void sendCurrentBlock(Clock::time_point now);
    void retransmit(Clock::time_point now, const std::string &why, bool countsAlways);
    void giveUp(const std::string &why);

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
    RetransmissionTimer m_timer;
    Clock::time_point m_lastSent;
    State m_state = State::Running;
    bool m_unconfirmed = false;
    std::string m_failure;
};
