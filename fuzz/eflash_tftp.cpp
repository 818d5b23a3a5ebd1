// The flasher's TFTP side: read requests on port 69 and a transfer reading
// acknowledgements, errors and strays, with timeouts in between.
// Input: image size (2 bytes), then records (see fuzzrecords.h) whose tag
// says what happens: 0 a datagram from the client, 1 one from a stranger,
// 2 the retransmission clock runs out, 3 the client repeats its request.
#include "fuzzcheck.h"
#include "fuzzrecords.h"
#include "tftppacket.h"
#include "tftptransfer.h"

#include <arpa/inet.h>

#include <algorithm>

namespace {

sockaddr_in loopbackEndpoint(const char *address, std::uint16_t port)
{
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    inet_pton(AF_INET, address, &endpoint.sin_addr);
    return endpoint;
}

void checkDecoders(const std::vector<std::uint8_t> &packet)
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

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // Up to eight blocks, enough for every block boundary case.
    const std::vector<std::uint8_t> image((data[0] << 8 | data[1]) % (8 * tftp::blockSize + 1), 0x5a);
    const sockaddr_in client = loopbackEndpoint("127.0.0.2", 2000);
    const sockaddr_in stranger = loopbackEndpoint("127.0.0.3", 2000);

    // The transfer's socket is never opened: what it sends goes nowhere.
    TftpTransfer transfer(image, UdpSocket(), client);
    auto now = TftpTransfer::Clock::time_point() + std::chrono::hours(1);
    transfer.start(now);

    FuzzRecords records(data + 2, size - 2);
    FuzzRecords::Record record;
    std::size_t acknowledged = 0;
    while (records.next(record)) {
        checkDecoders(record.bytes);
        const TftpTransfer::State before = transfer.state();
        switch (record.tag % 4) {
        case 0:
        case 1: {
            UdpSocket::Datagram datagram;
            datagram.bytes = record.bytes;
            datagram.from = record.tag % 4 == 0 ? client : stranger;
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

        FUZZ_CHECK(transfer.bytesAcknowledged() >= acknowledged);
        FUZZ_CHECK(transfer.bytesAcknowledged() <= image.size());
        acknowledged = transfer.bytesAcknowledged();
        if (before != TftpTransfer::State::Running)
            FUZZ_CHECK(transfer.state() == before);
        if (transfer.state() == TftpTransfer::State::Finished)
            FUZZ_CHECK(acknowledged == image.size());
        if (transfer.state() == TftpTransfer::State::Failed)
            FUZZ_CHECK(!transfer.failure().empty());
        FUZZ_CHECK(transfer.retransmissions() <= int(image.size() / tftp::blockSize + 1)
                   * TftpTransfer::maximumRetransmissions);
    }
    return 0;
}
