// The simulated boot loader reading BOOTP replies and TFTP packets, through
// its own sockets on loopback: the harness plays the flasher. It wakes the
// device with a magic packet, answers its BOOTP request with the input's
// replies, then serves the input's TFTP packets, and finally sends what ends
// any session (a proper reply, then a TFTP error) so no run waits on a timer.
//
// Input: records (see fuzzrecords.h). Tag bits 0-1: 0 a BOOTP reply, 1 a TFTP
// packet from the transfer port, 2 one from a stranger, 3 one from port 69.
// Bit 7 makes the record look right (a reply's op, xid and MAC; a DATA
// opcode put in front), bit 6 pads it to a full reply or a full 512-byte block,
// bit 5 makes a TFTP packet 512 bytes longer still.
#include "bootloadersim.h"
#include "fuzzcheck.h"
#include "fuzzrecords.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>

namespace {

// The device and the flasher on loopback addresses of their own.
constexpr const char *deviceAddress = "127.0.0.77";
constexpr const char *flasherAddress = "127.0.0.78";
constexpr const char *strangerAddress = "127.0.0.79";
constexpr std::array<std::uint8_t, 6> deviceMac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
constexpr std::size_t maximumImage = 4 * 512;
constexpr int maximumRecords = 48;
using Bytes = std::vector<std::uint8_t>;

in_addr address(const char *text)
{
    in_addr result{};
    inet_pton(AF_INET, text, &result);
    return result;
}

sockaddr_in endpoint(const char *text, std::uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr = address(text);
    result.sin_port = htons(port);
    return result;
}

class Socket
{
public:
    Socket(const char *text, std::uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in local = endpoint(text, port);
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
            std::perror("fuzz_bootloader_sim: bind");
            std::abort();
        }
    }
    ~Socket() { close(m_fd); }

    void send(const sockaddr_in &to, const Bytes &bytes) const
    {
        sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    }

    std::optional<Bytes> receive(int waitMs, sockaddr_in *from = nullptr) const
    {
        pollfd entry{m_fd, POLLIN, 0};
        if (poll(&entry, 1, waitMs) <= 0)
            return std::nullopt;
        static std::uint8_t buffer[65536];
        sockaddr_in source{};
        socklen_t length = sizeof source;
        const ssize_t size = recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&source), &length);
        if (size < 0)
            return std::nullopt;
        if (from)
            *from = source;
        return Bytes(buffer, buffer + size);
    }

    void drain() const
    {
        while (receive(0)) {
        }
    }

private:
    int m_fd = -1;
};

struct Flasher
{
    Socket boot{flasherAddress, 67};
    Socket tftp{flasherAddress, 69};
    Socket transfer{flasherAddress, 0};
    Socket stranger{strangerAddress, 0};
};

Bytes magicPacket()
{
    Bytes packet(6, 0xaa);
    for (int copy = 0; copy < 4; ++copy)
        packet.insert(packet.end(), deviceMac.begin(), deviceMac.end());
    return packet;
}

// The harness's own address always stands in the server field, so whatever
// reply the device takes, it reads the image from us and nowhere else.
Bytes bootReply(Bytes bytes, const Bytes &request, bool lookRight, bool pad)
{
    if (pad && bytes.size() < 300)
        bytes.resize(300, 0);
    if (lookRight && bytes.size() >= 34) {
        bytes[0] = 2;
        bytes[1] = 1;
        bytes[2] = 6;
        std::copy(request.begin() + 4, request.begin() + 8, bytes.begin() + 4);
        std::copy(deviceMac.begin(), deviceMac.end(), bytes.begin() + 28);
    }
    if (bytes.size() >= 24) {
        const in_addr server = address(flasherAddress);
        std::memcpy(&bytes[20], &server, 4);
    }
    return bytes;
}

Bytes tftpPacket(Bytes bytes, bool lookRight, bool pad, bool oversize)
{
    if (lookRight)
        bytes.insert(bytes.begin(), {0, 3});
    if (pad && bytes.size() < 516)
        bytes.resize(516, 0);
    if (oversize)
        bytes.resize(bytes.size() + 512, 0);
    return bytes;
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Flasher flasher;
    flasher.boot.drain();
    flasher.tftp.drain();
    flasher.transfer.drain();
    flasher.stranger.drain();

    BootLoaderSim::Settings settings;
    settings.mac = deviceMac;
    settings.address = address(deviceAddress);
    settings.bootServer = address(flasherAddress);
    settings.magicWait = std::chrono::milliseconds(3000);
    settings.bootAttempts = 3;
    settings.tftpRetries = 1;
    settings.dally = std::chrono::milliseconds(0);
    settings.maximumImageSize = maximumImage;
    BootLoaderSim device(settings);
    device.start();

    // The device binds its port when its thread gets going: knock until it asks.
    const sockaddr_in magicPort = endpoint(deviceAddress, 9);
    std::optional<Bytes> request;
    for (int knock = 0; knock < 2000 && !request; ++knock) {
        flasher.boot.send(magicPort, magicPacket());
        request = flasher.boot.receive(1);
    }
    FUZZ_CHECK(request && request->size() == 300 && (*request)[0] == 1);

    FuzzRecords records(data, size);
    FuzzRecords::Record record;
    const sockaddr_in deviceBootPort = endpoint(deviceAddress, 68);
    std::vector<FuzzRecords::Record> tftpRecords;
    // More would overflow the device's receive buffer, and the datagrams the
    // harness relies on would be lost.
    for (int taken = 0; taken < maximumRecords && records.next(record); ++taken) {
        const bool lookRight = record.tag & 0x80, pad = record.tag & 0x40;
        if (record.tag % 4 == 0)
            flasher.boot.send(deviceBootPort, bootReply(record.bytes, *request, lookRight, pad));
        else
            tftpRecords.push_back(record);
    }
    // Repeated while the device keeps asking, in case the input's replies
    // filled its buffer after all.
    sockaddr_in deviceTid{};
    std::optional<Bytes> readRequest;
    for (int reply = 0; reply < 8 && !readRequest; ++reply) {
        flasher.boot.send(deviceBootPort, bootReply(Bytes(300, 0), *request, true, true));
        readRequest = flasher.tftp.receive(500, &deviceTid);
    }
    FUZZ_CHECK(readRequest && readRequest->size() >= 4 && (*readRequest)[1] == 1);

    for (const FuzzRecords::Record &tftp : tftpRecords) {
        const Bytes packet = tftpPacket(tftp.bytes, tftp.tag & 0x80, tftp.tag & 0x40, tftp.tag & 0x20);
        const Socket &from = tftp.tag % 4 == 1 ? flasher.transfer
            : tftp.tag % 4 == 2                ? flasher.stranger
                                               : flasher.tftp;
        from.send(deviceTid, packet);
    }
    const Bytes end{0, 5, 0, 0, 'e', 'n', 'd', 0};
    flasher.transfer.send(deviceTid, end);
    flasher.tftp.send(deviceTid, end);
    device.wait();

    const BootLoaderSim::Result result = device.result();
    FUZZ_CHECK(result.outcome == BootLoaderSim::Result::Outcome::Received
               || result.outcome == BootLoaderSim::Result::Outcome::Failed);
    FUZZ_CHECK(result.image.size() <= maximumImage);
    FUZZ_CHECK(result.bootFile.size() <= 128);
    if (result.outcome == BootLoaderSim::Result::Outcome::Received) {
        FUZZ_CHECK(result.lastBlockSize < 512);
        FUZZ_CHECK(result.image.size() == std::size_t(result.blocks - 1) * 512 + result.lastBlockSize);
    }
    return 0;
}
