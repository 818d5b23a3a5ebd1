// The flasher's TFTP side: read requests on port 69 and a transfer reading
// acknowledgements, errors and strays, with timeouts in between. The transfer
// sends from a real socket on loopback to a client and a stranger the harness
// holds, so what it answers is checked too.
// Input: image size (2 bytes), then records (see fuzzrecords.h) whose tag
// says what happens: 0 a datagram from the client, 1 one from a stranger,
// 2 the retransmission clock runs out, 3 the client repeats its request.
#include "fuzzcheck.h"
#include "fuzzrecords.h"
#include "tftppacket.h"
#include "tftptransfer.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Never a TFTP opcode: marks the end of what the transfer sent for one record.
const Bytes sentinel{0xff, 0xff};

UdpSocket loopbackSocket(const char *address)
{
    in_addr local{};
    inet_pton(AF_INET, address, &local);
    UdpSocket socket;
    std::string error;
    if (!socket.open(local, 0, "lo", int(if_nametoindex("lo")), local, &error)) {
        std::fprintf(stderr, "fuzz_eflash_tftp: %s\n", error.c_str());
        std::abort();
    }
    return socket;
}

sockaddr_in endpointOf(const UdpSocket &socket)
{
    sockaddr_in endpoint{};
    socklen_t length = sizeof endpoint;
    getsockname(socket.descriptor(), reinterpret_cast<sockaddr *>(&endpoint), &length);
    return endpoint;
}

struct Peer
{
    explicit Peer(const char *address)
        : socket(loopbackSocket(address))
        , endpoint(endpointOf(socket))
    {
    }

    // Everything the transfer (sending from `transferFd`) sent here so far:
    // a sentinel sent after it from the same socket arrives after it.
    std::vector<Bytes> takeSent(int transferFd) const
    {
        sendto(transferFd, sentinel.data(), sentinel.size(), 0, reinterpret_cast<const sockaddr *>(&endpoint),
               sizeof endpoint);
        std::vector<Bytes> sent;
        for (;;) {
            pollfd entry{socket.descriptor(), POLLIN, 0};
            FUZZ_CHECK(poll(&entry, 1, 2000) == 1);
            const auto datagram = socket.receive();
            if (!datagram)
                continue;
            if (datagram->bytes == sentinel)
                return sent;
            sent.push_back(datagram->bytes);
        }
    }

    void drain() const
    {
        while (socket.receive()) {
        }
    }

    UdpSocket socket;
    sockaddr_in endpoint;
};

bool isErrorPacket(const Bytes &packet)
{
    return packet.size() >= 2 && packet[0] == 0 && packet[1] == tftp::Error;
}

void checkDecoders(const Bytes &packet)
{
    tftp::numberOf(packet);
    FUZZ_CHECK(tftp::errorMessageOf(packet).find('\0') == std::string::npos);
    const auto request = tftp::parseReadRequest(packet);
    if (!request)
        return;
    FUZZ_CHECK(tftp::opcodeOf(packet) == tftp::ReadRequest);
    FUZZ_CHECK(!request->fileName.empty());
    FUZZ_CHECK(request->fileName.find('\0') == std::string::npos);
    FUZZ_CHECK(request->mode.find('\0') == std::string::npos);
    FUZZ_CHECK(request->fileName.size() + request->mode.size() + 4 <= packet.size());
}

// The client gets blocks of the image, each as it stands in the image, or an
// error; nothing else.
void checkSentToClient(const std::vector<Bytes> &sent, const Bytes &image)
{
    for (const Bytes &packet : sent) {
        FUZZ_CHECK(packet.size() >= 4);
        if (isErrorPacket(packet))
            continue;
        FUZZ_CHECK(tftp::opcodeOf(packet) == tftp::Data);
        const std::size_t block = tftp::numberOf(packet);
        FUZZ_CHECK(block >= 1 && packet.size() - 4 <= tftp::blockSize);
        const std::size_t offset = (block - 1) * tftp::blockSize;
        FUZZ_CHECK(offset <= image.size());
        FUZZ_CHECK(packet.size() - 4 == std::min(tftp::blockSize, image.size() - offset));
        FUZZ_CHECK(std::equal(packet.begin() + 4, packet.end(), image.begin() + long(offset)));
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    static const Peer client("127.0.0.2");
    static const Peer stranger("127.0.0.3");
    client.drain();
    stranger.drain();

    // Up to eight blocks, enough for every block boundary case.
    Bytes image((data[0] << 8 | data[1]) % (8 * tftp::blockSize + 1));
    for (std::size_t at = 0; at < image.size(); ++at)
        image[at] = std::uint8_t(at * 7 + at / tftp::blockSize);

    TftpTransfer transfer(image, loopbackSocket("127.0.0.1"), client.endpoint);
    const int transferFd = transfer.descriptor();
    auto now = TftpTransfer::Clock::time_point() + std::chrono::hours(1);
    transfer.start(now);
    checkSentToClient(client.takeSent(transferFd), image);

    FuzzRecords records(data + 2, size - 2);
    FuzzRecords::Record record;
    std::size_t acknowledged = 0;
    while (records.next(record)) {
        checkDecoders(record.bytes);
        const TftpTransfer::State before = transfer.state();
        const bool fromStranger = record.tag % 4 == 1;
        switch (record.tag % 4) {
        case 0:
        case 1: {
            UdpSocket::Datagram datagram;
            datagram.bytes = record.bytes;
            datagram.from = fromStranger ? stranger.endpoint : client.endpoint;
            transfer.handle(datagram, now);
            break;
        }
        case 2:
            now = transfer.deadline();
            transfer.handleTimeout(now);
            break;
        case 3:
            transfer.handleRepeatedRequest(now);
            break;
        }
        now += std::chrono::milliseconds(record.tag >> 2);

        const std::vector<Bytes> toClient = client.takeSent(transferFd);
        const std::vector<Bytes> toStranger = stranger.takeSent(transferFd);
        checkSentToClient(toClient, image);
        // A stranger hears only that it is one, and only when it spoke.
        FUZZ_CHECK(toStranger.size() <= 1);
        for (const Bytes &packet : toStranger) {
            FUZZ_CHECK(fromStranger && isErrorPacket(packet));
            FUZZ_CHECK(tftp::numberOf(packet) == tftp::UnknownTransferId);
        }
        // An error packet is never answered, whoever sent it: two peers
        // answering each other's errors would never stop.
        if (record.tag % 4 < 2 && isErrorPacket(record.bytes))
            FUZZ_CHECK(toClient.empty() && toStranger.empty());
        // A transfer that has ended sends nothing more.
        if (before != TftpTransfer::State::Running)
            FUZZ_CHECK(toClient.empty() && toStranger.empty());

        FUZZ_CHECK(transfer.bytesAcknowledged() >= acknowledged);
        FUZZ_CHECK(transfer.bytesAcknowledged() <= image.size());
        acknowledged = transfer.bytesAcknowledged();
        if (before != TftpTransfer::State::Running)
            FUZZ_CHECK(transfer.state() == before);
        if (transfer.state() == TftpTransfer::State::Finished)
            FUZZ_CHECK(acknowledged == image.size());
        if (transfer.state() == TftpTransfer::State::Failed)
            FUZZ_CHECK(!transfer.failure().empty());
        // Per block: the counted resends, and the faster ones before them
        // while the timeout doubles from its 20 ms floor to 1 s.
        FUZZ_CHECK(transfer.retransmissions() <= int(image.size() / tftp::blockSize + 1)
                   * (TftpTransfer::maximumRetransmissions + 6));
    }
    return 0;
}
