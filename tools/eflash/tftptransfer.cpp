#include "tftptransfer.h"

#include "flashreport.h"
#include "tftppacket.h"

#include <algorithm>

TftpTransfer::TftpTransfer(const std::vector<std::uint8_t> &image, UdpSocket socket,
                           const sockaddr_in &client)
    : m_image(image)
    , m_socket(std::move(socket))
    , m_client(client)
    , m_lastBlock(static_cast<std::uint16_t>(image.size() / tftp::blockSize + 1))
{
}

void TftpTransfer::start(Clock::time_point now)
{
    if (m_startIsResend)
        retransmit(now, "the device kept repeating its read request");
    else
        sendCurrentBlock(now);
}

void TftpTransfer::sendCurrentBlock(Clock::time_point now)
{
    const std::size_t offset = std::size_t(m_block - 1) * tftp::blockSize;
    const std::size_t length = std::min(tftp::blockSize, m_image.size() - offset);
    m_socket.sendTo(m_client, tftp::makeData(m_block, m_image.data() + offset, length));
    m_lastSent = now;
}

void TftpTransfer::handle(const UdpSocket::Datagram &datagram, Clock::time_point now)
{
    if (m_state != State::Running)
        return;
    const bool isError = tftp::opcodeOf(datagram.bytes) == tftp::Error;
    if (!sameEndpoint(datagram.from, m_client)) {
        // RFC 1350: tell the stranger, leave the transfer alone. An error is
        // never answered: two servers would answer each other for ever.
        if (!isError)
            m_socket.sendTo(datagram.from, tftp::makeError(tftp::UnknownTransferId, "Unknown transfer ID"));
        return;
    }
    switch (tftp::opcodeOf(datagram.bytes)) {
    case tftp::Ack: {
        if (datagram.bytes.size() < 4)
            break;
        // Only the acknowledgement of the block in flight moves on. A repeated
        // one for an earlier block is dropped without resending, or every
        // later block would travel twice (the sorcerer's apprentice).
        if (tftp::numberOf(datagram.bytes) != m_block)
            break;
        m_acknowledged = m_block;
        if (m_block == m_lastBlock) {
            m_state = State::Finished;
            break;
        }
        ++m_block;
        m_retries = 0;
        sendCurrentBlock(now);
        break;
    }
    case tftp::Error:
        m_state = State::Failed;
        m_failure = "the device sent TFTP error " + std::to_string(tftp::numberOf(datagram.bytes))
            + " (" + deviceText(tftp::errorMessageOf(datagram.bytes)) + ") at block " + std::to_string(m_block);
        break;
    default:
        m_socket.sendTo(m_client, tftp::makeError(tftp::IllegalOperation, "Illegal TFTP operation"));
        break;
    }
}

void TftpTransfer::handleTimeout(Clock::time_point now)
{
    if (m_state != State::Running || now < deadline())
        return;
    retransmit(now, "the device stopped answering");
}

void TftpTransfer::retransmit(Clock::time_point now, const std::string &why)
{
    if (m_retries >= maximumRetransmissions) {
        m_state = State::Failed;
        m_failure = why + ": no acknowledgement of block " + std::to_string(m_block) + " after "
            + std::to_string(maximumRetransmissions) + " retransmissions";
        return;
    }
    ++m_retries;
    ++m_totalRetransmissions;
    sendCurrentBlock(now);
}

void TftpTransfer::handleRepeatedRequest(Clock::time_point now)
{
    // Each repeat resends the first block and so spends a retry: a device
    // that only ever asks again must not keep the transfer alive for ever.
    if (m_state == State::Running && m_acknowledged == 0)
        retransmit(now, "the device kept repeating its read request");
}

void TftpTransfer::continueRetriesOf(const TftpTransfer &previous)
{
    // A restart from a fresh port with nothing acknowledged before is
    // another repeat of the same request: its first block is a resend.
    if (previous.m_acknowledged == 0) {
        m_retries = previous.m_retries;
        m_startIsResend = true;
    }
}

std::size_t TftpTransfer::bytesAcknowledged() const
{
    return std::min(m_image.size(), std::size_t(m_acknowledged) * tftp::blockSize);
}
