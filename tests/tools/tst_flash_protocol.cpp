// eflash.exe's servers seen packet by packet, with datagrams put together
// here by hand, and the BootLoaderSim class as a simulated device would host
// it. Runs in a network namespace of its own (unshare), so the well-known
// ports of its loopback are free and nothing leaves the process's own lo.

#include "bootloadersim.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const QString deviceIp = QStringLiteral("127.0.0.2");
const QString strangerIp = QStringLiteral("127.0.0.3");
const QString serverIp = QStringLiteral("127.0.0.1");
const QByteArray deviceMac = QByteArray::fromHex("025a00000302");
const QString deviceMacText = QStringLiteral("02:5a:00:00:03:02");

QByteArray tftp(quint16 opcode, const QByteArray &body)
{
    QByteArray packet(2, '\0');
    qToBigEndian(opcode, packet.data());
    return packet + body;
}

QByteArray number(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray readRequest(const QByteArray &mode)
{
    return tftp(1, QByteArray("image.bin") + '\0' + mode + '\0');
}

quint16 opcodeOf(const QByteArray &packet)
{
    return packet.size() < 2 ? 0 : qFromBigEndian<quint16>(packet.constData());
}

quint16 numberOf(const QByteArray &packet)
{
    return packet.size() < 4 ? 0 : qFromBigEndian<quint16>(packet.constData() + 2);
}

QByteArray bootRequest(quint32 xid, quint8 op, quint8 htype, quint8 hlen, const QByteArray &mac,
                       const QByteArray &serverName)
{
    QByteArray request(300, '\0');
    request[0] = char(op);
    request[1] = char(htype);
    request[2] = char(hlen);
    qToBigEndian(xid, request.data() + 4);
    request.replace(28, mac.size(), mac);
    request.replace(44, serverName.size(), serverName);
    return request;
}

// Waits for the next datagram; an empty array when none came.
QByteArray receive(QUdpSocket &socket, int timeoutMs, QHostAddress *from = nullptr, quint16 *port = nullptr)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
        return {};
    QByteArray datagram(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(datagram.data(), datagram.size(), from, port);
    return datagram;
}

// A UDP socket bound on construction to ADDRESS and PORT (0: a free one).
class BoundSocket : public QUdpSocket
{
public:
    explicit BoundSocket(const QString &address, quint16 port = 0) { bind(QHostAddress(address), port); }
    bool isBound() const { return state() == BoundState; }
};

// An image of `size` bytes of a simple pattern, written to `path`; empty when
// it could not be written.
QByteArray writePatternImage(const QString &path, int size, int step, int offset)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char(i * step + offset);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != size)
        return {};
    return image;
}

// The device's read request for the image; the answer, and the port it came
// from.
QByteArray askForImage(QUdpSocket &device, quint16 *transferPort)
{
    device.writeDatagram(readRequest("octet"), QHostAddress(serverIp), 69);
    return receive(device, 5000, nullptr, transferPort);
}

// The simulated device's boot loader, waiting this long for its magic packet.
BootLoaderSim::Settings deviceBootLoader(std::chrono::milliseconds magicWait)
{
    BootLoaderSim::Settings settings;
    std::memcpy(settings.mac.data(), deviceMac.constData(), 6);
    inet_pton(AF_INET, "127.0.0.2", &settings.address);
    settings.magicWait = magicWait;
    return settings;
}

bool bringUpLoopback()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return up;
}

}

class tst_FlashProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // What the flasher refuses: answering error packets, letting a flood or
    // a repeating device stop its clocks, claiming 100 % early, printing a
    // device's text as it came.
    void errorPacketsAreNeverAnswered();
    void repeatedReadRequestsSpendTheRetries_data();
    void repeatedReadRequestsSpendTheRetries();
    void floodDoesNotStopTheRetryClock();
    void fullLastBlockIsNotYetComplete();
    void deviceTextCannotForgeLines();
    void severalDevicesEachGetOnlyTheirOwn();
    void forgedReadRequestsCannotStopTheTransfer_data();
    void forgedReadRequestsCannotStopTheTransfer();

    // On a poor link: a lost block is resent at the pace of the round trip,
    // a repeated ACK never doubles the next block, and a missing last ACK
    // is reported as such.
    void retransmissionFollowsTheRoundTrip();
    void deviceTurningSlowGetsFewSpuriousCopies();

    void magicPacketsCarryTheMacAndRepeat();
    void bootpAnswersOnlyTheBootLoader();
    void tftpRefusesWhatIsNotAnOctetReadFromTheDevice();
    void transferIgnoresStrangersAndResends();
    void repeatedReadRequestKeepsTheTransfer();
    void bootLoaderThatNeverAsksForTheImage();
    void bootLoaderClassReportsThroughItsCallback();
    void bootLoaderClassStopsOnRequest();

private:
    void startFlasher(int bootLoaderWaitMs = 20000, const QString &image = QStringLiteral("./image.bin"),
                      const QStringList &moreDevices = {});
    bool waitForFlasherEnd(int timeoutMs);
    QByteArray flasherOutput();

    QTemporaryDir *m_dir = nullptr;
    QProcess *m_flasher = nullptr;
    QByteArray m_image;
    QByteArray m_output;
};

void tst_FlashProtocol::init()
{
    m_dir = new QTemporaryDir;
    m_image.resize(1300);
    for (int i = 0; i < m_image.size(); ++i)
        m_image[i] = char(i * 7 + 3);
    QFile file(m_dir->filePath(QStringLiteral("image.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(m_image);
}

void tst_FlashProtocol::cleanup()
{
    if (m_flasher) {
        m_flasher->kill();
        m_flasher->waitForFinished(5000);
    }
    delete m_flasher;
    m_flasher = nullptr;
    delete m_dir;
    m_dir = nullptr;
    m_output.clear();
}

QByteArray tst_FlashProtocol::flasherOutput()
{
    m_output += m_flasher->readAll();
    return m_output;
}

void tst_FlashProtocol::startFlasher(int bootLoaderWaitMs, const QString &image, const QStringList &moreDevices)
{
    m_flasher = new QProcess;
    m_flasher->setWorkingDirectory(m_dir->path());
    m_flasher->setProcessChannelMode(QProcess::MergedChannels);
    m_flasher->start(qEnvironmentVariable("ZUDIRUV_BIN_DIR") + QStringLiteral("/eflash.exe"),
                     QStringList{QStringLiteral("-i"), deviceIp, QStringLiteral("-m"), deviceMacText,
                      image, QStringLiteral("--verbose"),
                      QStringLiteral("--bootloader-wait-ms"), QString::number(bootLoaderWaitMs)}
                         + moreDevices);
    QVERIFY(m_flasher->waitForStarted(5000));
    // Its ports are open once it starts sending magic packets.
    QTRY_VERIFY_WITH_TIMEOUT(flasherOutput().contains("Sending magic packets")
                                 || m_flasher->state() != QProcess::Running,
                             10000);
    QVERIFY2(flasherOutput().contains("Sending magic packets"), flasherOutput().constData());
}

bool tst_FlashProtocol::waitForFlasherEnd(int timeoutMs)
{
    return m_flasher->state() == QProcess::NotRunning || m_flasher->waitForFinished(timeoutMs);
}

// ---- What the flasher refuses ------------------------------------------

namespace {

// A UDP datagram with any source, through a raw socket: how a forged packet
// "from" the flasher's own port is made.
bool sendForged(const char *fromIp, quint16 fromPort, const char *toIp, quint16 toPort, const QByteArray &payload)
{
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0)
        return false;
    uchar header[28] = {};
    header[0] = 0x45; // IPv4, five-word header; the kernel fills length and checksum
    header[8] = 64;
    header[9] = IPPROTO_UDP;
    inet_pton(AF_INET, fromIp, header + 12);
    inet_pton(AF_INET, toIp, header + 16);
    qToBigEndian(fromPort, header + 20);
    qToBigEndian(toPort, header + 22);
    qToBigEndian(quint16(8 + payload.size()), header + 24); // checksum 0: none
    QByteArray packet(reinterpret_cast<const char *>(header), sizeof header);
    packet += payload;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    inet_pton(AF_INET, toIp, &to.sin_addr);
    const bool sent = sendto(fd, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr *>(&to), sizeof to)
        == packet.size();
    close(fd);
    return sent;
}

QList<QByteArray> linesOf(const QByteArray &output)
{
    return output.split('\n');
}

}

void tst_FlashProtocol::errorPacketsAreNeverAnswered()
{
    BoundSocket device(deviceIp), stranger(deviceIp);
    QVERIFY(device.isBound());
    QVERIFY(stranger.isBound());
    startFlasher();
    const QByteArray error = tftp(5, number(0) + "boom" + '\0');

    device.writeDatagram(error, QHostAddress(serverIp), 69);
    QVERIFY2(receive(device, 500).isEmpty(), "an error to the server port was answered");

    quint16 transferPort = 0;
    QCOMPARE(numberOf(askForImage(device, &transferPort)), quint16(1));
    stranger.writeDatagram(error, QHostAddress(serverIp), transferPort);
    QVERIFY2(receive(stranger, 500).isEmpty(), "an error from a stranger to the transfer port was answered");

    // Errors that seem to come from the flasher's own ports: answering them
    // would have it talk to itself for ever and hear nothing else.
    QVERIFY(sendForged("127.0.0.1", 69, "127.0.0.1", 69, error));
    QVERIFY(sendForged("127.0.0.1", transferPort, "127.0.0.1", transferPort, error));
    for (quint16 block = 1; block <= 3; ++block) {
        device.writeDatagram(tftp(4, number(block)), QHostAddress(serverIp), transferPort);
        if (block < 3) {
            QByteArray next;
            do
                next = receive(device, 5000);
            while (!next.isEmpty() && numberOf(next) == block);
            QCOMPARE(numberOf(next), quint16(block + 1));
        }
    }
    QVERIFY2(waitForFlasherEnd(10000), flasherOutput().constData());
    QCOMPARE(m_flasher->exitCode(), 0);
    QVERIFY(flasherOutput().contains("% Complete: 100%"));
}

void tst_FlashProtocol::repeatedReadRequestsSpendTheRetries_data()
{
    QTest::addColumn<bool>("freshPorts");
    QTest::addColumn<int>("endsWithinMs");
    QTest::addColumn<QByteArray>("error");
    // Each repeat resends the first block and spends a retry.
    QTest::newRow("from the same port") << false << 2000
                                        << QByteArray("ERROR: the device kept repeating its read request");
    // Each fresh port has a transfer of its own (at most four), which runs
    // out of retries on its own clock, about 7 s after it started.
    QTest::newRow("each from a fresh port") << true << 5000
                                            << QByteArray("ERROR: the device stopped answering: no acknowledgement "
                                                          "of block 1 after 5 retransmissions");
}

void tst_FlashProtocol::repeatedReadRequestsSpendTheRetries()
{
    QFETCH(bool, freshPorts);
    QFETCH(int, endsWithinMs);
    QFETCH(QByteArray, error);
    startFlasher();
    // Faster than the 1 s retransmission, so only the repeats can end it.
    QUdpSocket *device = nullptr;
    for (int repeat = 0; repeat < 20 && m_flasher->state() == QProcess::Running; ++repeat) {
        if (!device || freshPorts) {
            delete device;
            device = new QUdpSocket;
            QVERIFY(device->bind(QHostAddress(deviceIp), 0));
        }
        device->writeDatagram(readRequest("octet"), QHostAddress(serverIp), 69);
        m_flasher->waitForFinished(200);
    }
    delete device;
    QVERIFY2(waitForFlasherEnd(endsWithinMs), "a device that only repeats its read request keeps the flasher waiting");
    QCOMPARE(m_flasher->exitCode(), 1);
    QVERIFY2(flasherOutput().contains(error), flasherOutput().constData());
}

void tst_FlashProtocol::floodDoesNotStopTheRetryClock()
{
    BoundSocket device(deviceIp);
    QVERIFY(device.isBound());
    startFlasher();
    quint16 transferPort = 0;
    QCOMPARE(numberOf(askForImage(device, &transferPort)), quint16(1));

    // Never acknowledged: five retransmissions a second apart, then the end,
    // however many packets from a stranger keep the flasher busy meanwhile
    // (each one answered with an error, so it works harder than we do).
    const int flooder = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    QVERIFY(flooder >= 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(transferPort);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    const QByteArray junk = tftp(9, "junk");
    std::vector<mmsghdr> messages(256);
    iovec payload{const_cast<char *>(junk.constData()), size_t(junk.size())};
    for (mmsghdr &message : messages) {
        message = {};
        message.msg_hdr.msg_name = &to;
        message.msg_hdr.msg_namelen = sizeof to;
        message.msg_hdr.msg_iov = &payload;
        message.msg_hdr.msg_iovlen = 1;
    }
    QElapsedTimer flood;
    flood.start();
    bool ended = false;
    for (int round = 0; !ended && flood.elapsed() < 20000; ++round) {
        sendmmsg(flooder, messages.data(), unsigned(messages.size()), 0);
        if (round % 50 == 0)
            ended = m_flasher->waitForFinished(0) || m_flasher->state() == QProcess::NotRunning;
    }
    close(flooder);
    QVERIFY2(ended, qPrintable(QStringLiteral("still running after %1 ms of flood").arg(flood.elapsed())));
    QCOMPARE(m_flasher->exitCode(), 1);
    QVERIFY2(flasherOutput().contains("ERROR: the device stopped answering"), flasherOutput().constData());
}

void tst_FlashProtocol::fullLastBlockIsNotYetComplete()
{
    QFile exact(m_dir->filePath(QStringLiteral("exact.bin")));
    QVERIFY(exact.open(QIODevice::WriteOnly));
    exact.write(m_image.left(1024));
    exact.close();
    BoundSocket device(deviceIp);
    QVERIFY(device.isBound());
    startFlasher(20000, QStringLiteral("./exact.bin"));

    quint16 transferPort = 0;
    QCOMPARE(numberOf(askForImage(device, &transferPort)), quint16(1));
    device.writeDatagram(tftp(4, number(1)), QHostAddress(serverIp), transferPort);
    QCOMPARE(numberOf(receive(device, 5000)), quint16(2));
    device.writeDatagram(tftp(4, number(2)), QHostAddress(serverIp), transferPort);
    // All 1024 bytes are acknowledged, the empty third block is not yet.
    const QByteArray last = receive(device, 5000);
    QCOMPARE(numberOf(last), quint16(3));
    QCOMPARE(last.size(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(flasherOutput().contains("% Complete: 99%") || flasherOutput().contains("% Complete: 100%"),
                             5000);
    QVERIFY2(!flasherOutput().contains("Complete: 100%"), flasherOutput().constData());

    device.writeDatagram(tftp(4, number(3)), QHostAddress(serverIp), transferPort);
    QVERIFY(waitForFlasherEnd(5000));
    QCOMPARE(m_flasher->exitCode(), 0);
    QVERIFY(flasherOutput().contains("% Complete: 100%"));
}

void tst_FlashProtocol::deviceTextCannotForgeLines()
{
    BoundSocket device(deviceIp);
    QVERIFY(device.isBound());
    startFlasher();
    const QByteArray forged = "\r\n% Complete: 100%\nERROR: forged\x1b[2K Complete: 77%";
    device.writeDatagram(tftp(1, "image" + forged + '\0' + "octet" + '\0'), QHostAddress(serverIp), 69);
    quint16 transferPort = 0;
    QCOMPARE(numberOf(receive(device, 5000, nullptr, &transferPort)), quint16(1));
    device.writeDatagram(tftp(5, number(0) + "disk full" + forged + '\0'), QHostAddress(serverIp), transferPort);
    QVERIFY(waitForFlasherEnd(5000));
    QCOMPARE(m_flasher->exitCode(), 1);

    // Read as the program reads: the only progress line is the real 0 %, the
    // only error line is the flasher's own, and the device's text is there,
    // escaped.
    const QByteArray output = flasherOutput();
    int errorLines = 0;
    for (const QByteArray &line : linesOf(output)) {
        if (line.contains("Complete:"))
            QCOMPARE(line, QByteArray("% Complete: 0%"));
        if (line.contains("ERROR")) {
            ++errorLines;
            QVERIFY2(line.startsWith("ERROR: the device sent TFTP error 0 (disk full\\x0d\\x0a"), line.constData());
        }
        QVERIFY2(!line.contains('\x1b') && !line.contains('\r'), line.constData());
    }
    QCOMPARE(errorLines, 1);
    QVERIFY2(output.contains("TFTP read request for \"image\\x0d\\x0a% Complete\\x3a 100%\\x0a\\x45RROR: forged"),
             output.constData());
}

void tst_FlashProtocol::severalDevicesEachGetOnlyTheirOwn()
{
    const QString secondIp = QStringLiteral("127.0.0.4");
    const QByteArray secondMac = QByteArray::fromHex("025a00000304");
    BoundSocket first(deviceIp, 68), second(secondIp, 68), stranger(strangerIp, 68);
    QVERIFY(first.isBound());
    QVERIFY(second.isBound());
    QVERIFY(stranger.isBound());
    startFlasher(20000, QStringLiteral("./image.bin"),
                 {QStringLiteral("-i"), secondIp, QStringLiteral("-m"), QStringLiteral("02-5a-00-00-03-04"),
                  QStringLiteral("./image.bin")});
    const QHostAddress server(serverIp);

    // A MAC address that is not listed gets no answer; each listed one its
    // own address.
    stranger.writeDatagram(bootRequest(7, 1, 1, 6, QByteArray::fromHex("025a000003ff"), "stellaris"), server, 67);
    second.writeDatagram(bootRequest(8, 1, 1, 6, secondMac, "stellaris"), server, 67);
    const QByteArray reply = receive(second, 5000);
    QCOMPARE(reply.size(), 300);
    QCOMPARE(QHostAddress(qFromBigEndian<quint32>(reply.constData() + 16)), QHostAddress(secondIp));
    QVERIFY(receive(stranger, 300).isEmpty());
    QVERIFY(receive(first, 100).isEmpty());

    // A read request from an address not listed is refused.
    stranger.writeDatagram(readRequest("octet"), server, 69);
    const QByteArray refusal = receive(stranger, 5000);
    QCOMPARE(opcodeOf(refusal), quint16(5));
    QCOMPARE(numberOf(refusal), quint16(2));

    // Each device has a transfer of its own; one ends, the other goes on.
    quint16 firstPort = 0, secondPort = 0;
    first.writeDatagram(readRequest("octet"), server, 69);
    second.writeDatagram(readRequest("octet"), server, 69);
    QCOMPARE(numberOf(receive(first, 5000, nullptr, &firstPort)), quint16(1));
    QCOMPARE(numberOf(receive(second, 5000, nullptr, &secondPort)), quint16(1));
    QVERIFY(firstPort != secondPort);
    second.writeDatagram(tftp(5, number(3) + "Disk full" + '\0'), server, secondPort);
    QTRY_VERIFY_WITH_TIMEOUT(flasherOutput().contains("127.0.0.4: ERROR: the device sent TFTP error 3 (Disk full)"),
                             5000);
    QByteArray received;
    for (quint16 block = 1; block <= 3; ++block) {
        QByteArray data;
        do
            data = receive(first, 5000);
        while (!data.isEmpty() && numberOf(data) < block);
        QCOMPARE(numberOf(data), block);
        received += data.mid(4);
        first.writeDatagram(tftp(4, number(block)), server, firstPort);
    }
    QCOMPARE(received, m_image);
    QVERIFY(waitForFlasherEnd(5000));
    QCOMPARE(m_flasher->exitCode(), 1);
    QVERIFY2(flasherOutput().contains("127.0.0.2: % Complete: 100%"), flasherOutput().constData());
    for (const QByteArray &line : linesOf(flasherOutput()))
        QVERIFY2(line.isEmpty() || line.startsWith("127.0.0.2: ") || line.startsWith("127.0.0.4: "), line.constData());
}

void tst_FlashProtocol::forgedReadRequestsCannotStopTheTransfer_data()
{
    QTest::addColumn<bool>("beforeFirstAck");
    QTest::newRow("before the device's first ACK") << true;
    QTest::newRow("after it") << false;
}

void tst_FlashProtocol::forgedReadRequestsCannotStopTheTransfer()
{
    QFETCH(bool, beforeFirstAck);
    BoundSocket device(deviceIp);
    QVERIFY(device.isBound());
    startFlasher();
    const QHostAddress server(serverIp);
    quint16 transferPort = 0;
    QCOMPARE(numberOf(askForImage(device, &transferPort)), quint16(1));
    if (!beforeFirstAck) {
        device.writeDatagram(tftp(4, number(1)), server, transferPort);
        QCOMPARE(numberOf(receive(device, 5000)), quint16(2));
    }

    // A host on the link asks with the device's address from ports of its
    // own: the first few get transfers beside the device's, the rest are
    // refused; none of it touches the device's transfer.
    std::vector<std::unique_ptr<BoundSocket>> forgers;
    int started = 0, refused = 0;
    for (int i = 0; i < 8; ++i) {
        forgers.push_back(std::make_unique<BoundSocket>(deviceIp));
        forgers.back()->writeDatagram(readRequest("octet"), server, 69);
        const QByteArray answer = receive(*forgers.back(), 300);
        started += opcodeOf(answer) == 3 ? 1 : 0;
        refused += opcodeOf(answer) == 5 ? 1 : 0;
    }
    QVERIFY2(started >= 1 && refused >= 1, qPrintable(QStringLiteral("%1 started, %2 refused").arg(started).arg(refused)));

    for (quint16 block = beforeFirstAck ? 1 : 2; block <= 2; ++block) {
        device.writeDatagram(tftp(4, number(block)), server, transferPort);
        if (block == 1) {
            QByteArray next;
            do
                next = receive(device, 5000);
            while (!next.isEmpty() && numberOf(next) < 2);
            QCOMPARE(numberOf(next), quint16(2));
        }
    }
    QByteArray last;
    do
        last = receive(device, 5000);
    while (!last.isEmpty() && numberOf(last) < 3);
    QCOMPARE(numberOf(last), quint16(3));
    QCOMPARE(last.mid(4), m_image.mid(1024));
    device.writeDatagram(tftp(4, number(3)), server, transferPort);
    QVERIFY2(waitForFlasherEnd(5000), flasherOutput().constData());
    QCOMPARE(m_flasher->exitCode(), 0);
    QVERIFY(flasherOutput().contains("% Complete: 100%"));
}

void tst_FlashProtocol::retransmissionFollowsTheRoundTrip()
{
    const QByteArray image = writePatternImage(m_dir->filePath(QStringLiteral("long.bin")), 40 * 512 + 100, 11, 5);
    QVERIFY(!image.isEmpty());
    BoundSocket device(deviceIp);
    QVERIFY(device.isBound());
    startFlasher(20000, QStringLiteral("./long.bin"));
    const QHostAddress server(serverIp);
    quint16 transferPort = 0;
    QByteArray data = askForImage(device, &transferPort);

    // Blocks answered at once teach the flasher a round trip well below a
    // millisecond; block 30 then goes unanswered. Its copies come at the
    // pace of that round trip, doubling, where a fixed timeout would send
    // the first one only after a second.
    for (quint16 block = 1; block < 30; ++block) {
        QCOMPARE(numberOf(data), block);
        device.writeDatagram(tftp(4, number(block)), server, transferPort);
        data = receive(device, 5000);
    }
    QCOMPARE(numberOf(data), quint16(30));
    int copies = 0;
    QElapsedTimer window;
    window.start();
    while (window.elapsed() < 900) {
        const QByteArray again = receive(device, int(900 - window.elapsed()));
        copies += numberOf(again) == 30 ? 1 : 0;
    }
    QVERIFY2(copies >= 2, qPrintable(QString::number(copies)));

    // The ACK of block 30 and a repeat of it: block 31 comes once.
    device.writeDatagram(tftp(4, number(30)), server, transferPort);
    device.writeDatagram(tftp(4, number(30)), server, transferPort);
    QCOMPARE(numberOf(receive(device, 5000)), quint16(31));
    int extraCopies = 0;
    for (QByteArray more = receive(device, 10); !more.isEmpty(); more = receive(device, 10))
        extraCopies += numberOf(more) == 31 ? 1 : 0;
    QCOMPARE(extraCopies, 0);

    // Every block acknowledged but the last: the device may hold the image.
    for (quint16 block = 31; block < 41; ++block) {
        device.writeDatagram(tftp(4, number(block)), server, transferPort);
        do
            data = receive(device, 5000);
        while (!data.isEmpty() && numberOf(data) <= block);
        QCOMPARE(numberOf(data), quint16(block + 1));
    }
    QVERIFY2(waitForFlasherEnd(15000), flasherOutput().constData());
    QCOMPARE(m_flasher->exitCode(), 1);
    QVERIFY2(flasherOutput().contains("\nERROR: unconfirmed: no acknowledgement of the last block (41) after 5 "
                                      "retransmissions; the device may have taken the whole image\n"),
             flasherOutput().constData());
    QVERIFY(!flasherOutput().contains("Complete: 100%"));
}

void tst_FlashProtocol::deviceTurningSlowGetsFewSpuriousCopies()
{
    // Blocks written at once teach a round trip far below the 20 ms floor;
    // from block 20 on each takes 50 ms. The timer must learn that from the
    // blocks it sent once, not stay at its floor resending every block.
    const QByteArray image = writePatternImage(m_dir->filePath(QStringLiteral("slowing.bin")), 100 * 512 + 7, 13, 1);
    QVERIFY(!image.isEmpty());
    BootLoaderSim::Settings settings = deviceBootLoader(std::chrono::milliseconds(20000));
    settings.slowerFromBlock = 20;
    settings.laterBlockWrite = std::chrono::milliseconds(50);
    BootLoaderSim simulator(settings);
    simulator.start();

    startFlasher(20000, QStringLiteral("./slowing.bin"));
    QVERIFY2(waitForFlasherEnd(60000), flasherOutput().constData());
    QCOMPARE(m_flasher->exitCode(), 0);
    simulator.wait();
    const BootLoaderSim::Result result = simulator.result();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(result.image.data()), int(result.image.size())), image);
    // Nothing is lost on loopback: every block that came twice was resent
    // before its ACK could come.
    QVERIFY2(result.duplicateBlocks.size() <= 10,
             qPrintable(QStringLiteral("%1 blocks came twice").arg(result.duplicateBlocks.size())));
}

// ---- The servers packet by packet ---------------------------------------

void tst_FlashProtocol::magicPacketsCarryTheMacAndRepeat()
{
    BoundSocket device(deviceIp, 9);
    QVERIFY(device.isBound());
    startFlasher();

    const QByteArray expected = QByteArray(6, char(0xaa)) + deviceMac + deviceMac + deviceMac + deviceMac;
    QElapsedTimer clock;
    QByteArray first = receive(device, 5000);
    clock.start();
    QCOMPARE(first.toHex(), expected.toHex());
    QCOMPARE(receive(device, 5000).toHex(), expected.toHex());
    // About 500 ms apart: never a burst.
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
}

void tst_FlashProtocol::bootpAnswersOnlyTheBootLoader()
{
    BoundSocket device(deviceIp, 68);
    QVERIFY(device.isBound());
    startFlasher();

    const QByteArray otherMac = QByteArray::fromHex("025a000003ff");
    const QHostAddress server(serverIp);
    device.writeDatagram(bootRequest(1, 1, 6, 6, deviceMac, "stellaris"), server, 67);     // not Ethernet
    device.writeDatagram(bootRequest(2, 1, 1, 8, deviceMac, "stellaris"), server, 67);     // odd length
    device.writeDatagram(bootRequest(3, 2, 1, 6, deviceMac, "stellaris"), server, 67);     // a reply
    device.writeDatagram(bootRequest(4, 1, 1, 6, otherMac, "stellaris"), server, 67);      // someone else
    device.writeDatagram(bootRequest(5, 1, 1, 6, deviceMac, "pxe"), server, 67);           // other server
    device.writeDatagram(bootRequest(6, 1, 1, 6, deviceMac, "Stellaris"), server, 67);

    // Requests are handled in order, so the answer to the last one comes
    // after anything the others could have caused.
    const QByteArray reply = receive(device, 5000);
    QCOMPARE(reply.size(), 300);
    QCOMPARE(quint8(reply[0]), quint8(2));
    QCOMPARE(qFromBigEndian<quint32>(reply.constData() + 4), quint32(6));
    QCOMPARE(QHostAddress(qFromBigEndian<quint32>(reply.constData() + 16)), QHostAddress(deviceIp));
    QCOMPARE(QHostAddress(qFromBigEndian<quint32>(reply.constData() + 20)), server);
    QCOMPARE(reply.mid(28, 6).toHex(), deviceMac.toHex());
    QCOMPARE(QByteArray(reply.constData() + 108), QByteArray("image.bin"));
    QVERIFY(receive(device, 300).isEmpty());
}

void tst_FlashProtocol::tftpRefusesWhatIsNotAnOctetReadFromTheDevice()
{
    BoundSocket device(deviceIp), stranger(strangerIp);
    QVERIFY(device.isBound());
    QVERIFY(stranger.isBound());
    startFlasher();

    const QHostAddress server(serverIp);
    struct Case
    {
        const char *what;
        QUdpSocket *from;
        QByteArray packet;
        quint16 error;
    };
    const Case cases[] = {
        {"write request", &device, tftp(2, QByteArray("image.bin") + '\0' + "octet" + '\0'), 4},
        {"ACK to the server port", &device, tftp(4, number(1)), 4},
        {"one byte", &device, QByteArray(1, '\1'), 4},
        {"netascii", &device, readRequest("netascii"), 4},
        {"read request from another host", &stranger, readRequest("octet"), 2},
    };
    for (const Case &item : cases) {
        item.from->writeDatagram(item.packet, server, 69);
        const QByteArray answer = receive(*item.from, 5000);
        QVERIFY2(opcodeOf(answer) == 5, item.what);
        QVERIFY2(numberOf(answer) == item.error, item.what);
    }
    QCOMPARE(m_flasher->state(), QProcess::Running);
}

void tst_FlashProtocol::transferIgnoresStrangersAndResends()
{
    BoundSocket device(deviceIp), otherPort(deviceIp);
    QVERIFY(device.isBound());
    QVERIFY(otherPort.isBound());
    startFlasher();

    device.writeDatagram(readRequest("OCTET"), QHostAddress(serverIp), 69);
    QHostAddress from;
    quint16 transferPort = 0;
    QByteArray data = receive(device, 5000, &from, &transferPort);
    QCOMPARE(opcodeOf(data), quint16(3));
    QCOMPARE(numberOf(data), quint16(1));
    QVERIFY(transferPort != 69);

    // Not acknowledged: the same block again, after a while.
    QElapsedTimer clock;
    clock.start();
    QByteArray again = receive(device, 5000);
    QCOMPARE(again, data);
    QVERIFY2(clock.elapsed() >= 500, qPrintable(QString::number(clock.elapsed())));

    // An ACK from another port is answered with "unknown transfer ID" and
    // changes nothing.
    otherPort.writeDatagram(tftp(4, number(1)), from, transferPort);
    const QByteArray refusal = receive(otherPort, 5000);
    QCOMPARE(opcodeOf(refusal), quint16(5));
    QCOMPARE(numberOf(refusal), quint16(5));

    QByteArray received = data.mid(4);
    for (quint16 block = 1; block <= 3; ++block) {
        device.writeDatagram(tftp(4, number(block)), from, transferPort);
        if (block == 3)
            break;
        QByteArray next;
        do // a retransmission of the previous block may still be on its way
            next = receive(device, 5000);
        while (numberOf(next) == block);
        QCOMPARE(numberOf(next), quint16(block + 1));
        received += next.mid(4);
    }
    QCOMPARE(received, m_image);
    QTRY_COMPARE_WITH_TIMEOUT(m_flasher->state(), QProcess::NotRunning, 5000);
    QCOMPARE(m_flasher->exitCode(), 0);
    QVERIFY(flasherOutput().contains("% Complete: 100%"));
}

void tst_FlashProtocol::repeatedReadRequestKeepsTheTransfer()
{
    BoundSocket device(deviceIp), restarted(deviceIp);
    QVERIFY(device.isBound());
    QVERIFY(restarted.isBound());
    startFlasher();

    quint16 firstPort = 0, secondPort = 0, thirdPort = 0;
    QCOMPARE(numberOf(askForImage(device, &firstPort)), quint16(1));
    // The same request again, from the same port: our block was lost, not
    // the device restarted, so the transfer and its port stay.
    QCOMPARE(numberOf(askForImage(device, &secondPort)), quint16(1));
    QCOMPARE(secondPort, firstPort);

    // From a new port it is a new start (the device rebooted), served from
    // a fresh port; the old port falls silent and the image goes out whole.
    QCOMPARE(numberOf(askForImage(restarted, &thirdPort)), quint16(1));
    QVERIFY(thirdPort != firstPort);
    QCOMPARE(m_flasher->state(), QProcess::Running);
    QByteArray received;
    for (quint16 block = 1; block <= 3; ++block) {
        QByteArray data;
        if (block > 1) {
            do
                data = receive(restarted, 5000);
            while (!data.isEmpty() && numberOf(data) < block);
            QCOMPARE(numberOf(data), block);
        }
        restarted.writeDatagram(tftp(4, number(block)), QHostAddress(serverIp), thirdPort);
    }
    QVERIFY2(waitForFlasherEnd(5000), flasherOutput().constData());
    QCOMPARE(m_flasher->exitCode(), 0);
    QVERIFY(flasherOutput().contains("% Complete: 100%"));
}

void tst_FlashProtocol::bootLoaderThatNeverAsksForTheImage()
{
    BoundSocket device(deviceIp, 68);
    QVERIFY(device.isBound());
    startFlasher(1500);
    device.writeDatagram(bootRequest(9, 1, 1, 6, deviceMac, "stellaris"), QHostAddress(serverIp), 67);
    QCOMPARE(receive(device, 5000).size(), 300);

    QTRY_COMPARE_WITH_TIMEOUT(m_flasher->state(), QProcess::NotRunning, 10000);
    QCOMPARE(m_flasher->exitCode(), 1);
    QVERIFY2(flasherOutput().contains("ERROR: the boot loader took an address but did not ask for the image within "
                                      "1.5 s; likely another BOOTP or DHCP server on the link answered it first"),
             flasherOutput().constData());
}

void tst_FlashProtocol::bootLoaderClassReportsThroughItsCallback()
{
    BootLoaderSim simulator(deviceBootLoader(std::chrono::milliseconds(20000)));
    std::atomic<int> calls{0};
    std::atomic<bool> received{false};
    simulator.start([&](const BootLoaderSim::Result &result) {
        received = result.outcome == BootLoaderSim::Result::Outcome::Received;
        ++calls;
    });
    QVERIFY(simulator.isRunning());

    startFlasher();
    QTRY_COMPARE_WITH_TIMEOUT(m_flasher->state(), QProcess::NotRunning, 30000);
    QCOMPARE(m_flasher->exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls.load(), 1, 10000);
    QVERIFY(received);
    QVERIFY(!simulator.isRunning());
    const BootLoaderSim::Result result = simulator.result();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(result.image.data()), int(result.image.size())), m_image);
    QCOMPARE(result.bootFile, std::string("image.bin"));
}

void tst_FlashProtocol::bootLoaderClassStopsOnRequest()
{
    BootLoaderSim simulator(deviceBootLoader(std::chrono::milliseconds(60000)));
    std::atomic<bool> stopped{false};
    simulator.start([&](const BootLoaderSim::Result &result) {
        stopped = result.outcome == BootLoaderSim::Result::Outcome::Stopped;
    });
    simulator.stop();
    QTRY_VERIFY_WITH_TIMEOUT(stopped.load(), 5000);
    simulator.wait();
    QVERIFY(!simulator.isRunning());
}

// ---------------------------------------------------------------------------
// The boot loader class against a TFTP server made by hand here, for what a
// flasher must never get away with.

class tst_BootLoaderPackets : public QObject
{
    Q_OBJECT

private slots:
    void refusesBlocksLargerThan512Bytes_data();
    void refusesBlocksLargerThan512Bytes();
};

void tst_BootLoaderPackets::refusesBlocksLargerThan512Bytes_data()
{
    QTest::addColumn<int>("firstBlockBytes");
    QTest::newRow("one byte over") << 513;
    QTest::newRow("an Ethernet frame's worth") << 1468;
}

void tst_BootLoaderPackets::refusesBlocksLargerThan512Bytes()
{
    QFETCH(int, firstBlockBytes);
    QUdpSocket server;
    QVERIFY(server.bind(QHostAddress(serverIp), 69));
    QUdpSocket transfer;
    QVERIFY(transfer.bind(QHostAddress(serverIp), 0));

    BootLoaderSim::Settings settings;
    inet_pton(AF_INET, "127.0.0.2", &settings.address);
    settings.tftpOnly = true;
    inet_pton(AF_INET, "127.0.0.1", &settings.tftpServer);
    settings.tftpFile = "image.bin";
    BootLoaderSim simulator(settings);
    simulator.start();

    QHostAddress device;
    quint16 devicePort = 0;
    QCOMPARE(opcodeOf(receive(server, 5000, &device, &devicePort)), quint16(1));
    transfer.writeDatagram(tftp(3, number(1) + QByteArray(firstBlockBytes, 'x')), device, devicePort);

    const QByteArray answer = receive(transfer, 5000);
    QCOMPARE(opcodeOf(answer), quint16(5));
    QCOMPARE(numberOf(answer), quint16(4));
    QTRY_VERIFY_WITH_TIMEOUT(!simulator.isRunning(), 5000);
    const BootLoaderSim::Result result = simulator.result();
    QCOMPARE(result.outcome, BootLoaderSim::Result::Outcome::Failed);
    QVERIFY2(result.reason.find("more than 512") != std::string::npos, result.reason.c_str());
    QVERIFY(result.image.empty());
}

int main(int argc, char **argv)
{
    // Before any thread exists: a network namespace of our own, with lo up.
    if (unshare(CLONE_NEWNET) != 0 || !bringUpLoopback()) {
        std::printf("SKIPPED: cannot make a network namespace here (needs root)\n");
        return 77;
    }
    QCoreApplication app(argc, argv);
    tst_FlashProtocol flasher;
    tst_BootLoaderPackets bootLoader;
    return QTest::qExec(&flasher, argc, argv) | QTest::qExec(&bootLoader, argc, argv);
}

#include "tst_flash_protocol.moc"
