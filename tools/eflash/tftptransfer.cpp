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
        retransmit(now, "the device kept repeating its read request", true);
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
        m_timer.acknowledged(now - m_lastSent);
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
    retransmit(now, "the device stopped answering", false);
}

void TftpTransfer::retransmit(Clock::time_point now, const std::string &why, bool countsAlways)
{
    // Fast retransmissions below the full interval are what the adaptive
    // timeout buys; only those at the full interval spend the retries.
    const bool counts = countsAlways || m_timer.timeout() >= RetransmissionTimer::maximum;
    if (counts && m_retries >= maximumRetransmissions)
        return giveUp(why);
    if (counts)
        ++m_retries;
    ++m_totalRetransmissions;
    m_timer.backOff();
    sendCurrentBlock(now);
}

void TftpTransfer::giveUp(const std::string &why)
{
    m_state = State::Failed;
    const std::string retries = std::to_string(maximumRetransmissions) + " retransmissions";
    if (m_block == m_lastBlock && m_acknowledged > 0) {
        // The device took every block before and may hold the whole image,
        // only its last word lost: a caller checks the device rather than
        // calling it failed.
        m_unconfirmed = true;
        m_failure = "unconfirmed: no acknowledgement of the last block (" + std::to_string(m_block) + ") after "
            + retries + "; the device may have taken the whole image";
        return;
    }
    m_failure = why + ": no acknowledgement of block " + std::to_string(m_block) + " after " + retries;
}

void TftpTransfer::handleRepeatedRequest(Clock::time_point now)
{
    // Each repeat resends the first block and so spends a retry: a device
    // that only ever asks again must not keep the transfer alive for ever.
    if (m_state == State::Running && m_acknowledged == 0)
        retransmit(now, "the device kept repeating its read request", true);
}

void TftpTransfer::continueRetriesOf(const TftpTransfer &other)
{
    // A start from a fresh port while nothing was acknowledged before is
    // another repeat of the same request: its first block is a resend.
    if (other.m_acknowledged == 0) {
        m_retries = std::max(m_retries, other.m_retries);
        m_startIsResend = true;
    }
}

std::size_t TftpTransfer::bytesAcknowledged() const
{
    return std::min(m_image.size(), std::size_t(m_acknowledged) * tftp::blockSize);
}
