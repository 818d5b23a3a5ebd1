// FleetFlasher in-process, seen through its FlashObserver: several
// simulated boot loaders (BootLoaderSim threads) on loopback addresses of a
// network namespace of the test's own, each with its own MAC and image.

#include "bootloadersim.h"
#include "fleetflasher.h"

#include <QtTest>

#include <arpa/inet.h>
#include <sched.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace {

// Everything the flasher reports, by device.
class RecordingObserver : public FlashObserver
{
public:
    void note(std::size_t device, const std::string &text) override { notes[device].push_back(text); }
    void progress(std::size_t device, const Progress &progress) override { progressOf[device].push_back(progress); }
    void finished(std::size_t device, const Outcome &outcome) override
    {
        QVERIFY2(!outcomes.count(device), "a device finished twice");
        outcomes[device] = outcome;
    }

    std::map<std::size_t, std::vector<std::string>> notes;
    std::map<std::size_t, std::vector<Progress>> progressOf;
    std::map<std::size_t, Outcome> outcomes;
};

in_addr address(const char *text)
{
    in_addr result{};
    inet_pton(AF_INET, text, &result);
    return result;
}

MacAddress macNumber(std::uint8_t last)
{
    return {0x02, 0x5a, 0x00, 0x00, 0x30, last};
}

std::vector<std::uint8_t> imageOf(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return image;
}

FlashTarget target(const char *device, std::uint8_t macLast, std::vector<std::uint8_t> image)
{
    FlashTarget result;
    result.device = address(device);
    result.mac = macNumber(macLast);
    result.image = std::move(image);
    result.bootFile = "image-" + std::to_string(macLast) + ".bin";
    return result;
}

}

class tst_FleetFlasher : public QObject
{
    Q_OBJECT

private slots:
    void reportsEachDeviceThroughTheObserver();
};

void tst_FleetFlasher::reportsEachDeviceThroughTheObserver()
{
    // Devices 0 and 2 take their images; device 1 answers block 2 with a
    // TFTP error; 3 repeats device 0's MAC address and 4 has an image TFTP
    // cannot carry: each of those fails alone.
    const char *addresses[] = {"127.0.0.11", "127.0.0.12", "127.0.0.13"};
    std::vector<std::unique_ptr<BootLoaderSim>> devices;
    for (int i = 0; i < 3; ++i) {
        BootLoaderSim::Settings settings;
        settings.mac = macNumber(std::uint8_t(i + 1));
        settings.address = address(addresses[i]);
        settings.magicWait = std::chrono::milliseconds(20000);
        if (i == 1)
            settings.errorAtBlock = 2;
        devices.push_back(std::make_unique<BootLoaderSim>(settings));
        devices.back()->start();
    }
    std::vector<FlashTarget> targets;
    targets.push_back(target(addresses[0], 1, imageOf(3000, 1)));
    targets.push_back(target(addresses[1], 2, imageOf(4000, 2)));
    targets.push_back(target(addresses[2], 3, imageOf(1024, 3)));
    targets.push_back(target("127.0.0.14", 1, imageOf(10, 4)));
    targets.push_back(target("127.0.0.15", 5, std::vector<std::uint8_t>(FleetFlasher::maximumImageSize + 1)));
    const std::vector<std::uint8_t> first = targets[0].image, third = targets[2].image;

    RecordingObserver observer;
    FleetFlasher flasher(std::move(targets), std::chrono::milliseconds(10000), observer);
    QVERIFY(!flasher.run());
    for (auto &device : devices)
        device->wait();

    QCOMPARE(observer.outcomes.size(), std::size_t(5));
    for (std::size_t flashed : {std::size_t(0), std::size_t(2)}) {
        const FlashObserver::Outcome &outcome = observer.outcomes[flashed];
        QVERIFY2(outcome.flashed, outcome.error.c_str());
        QCOMPARE(outcome.bytes, flashed == 0 ? first.size() : third.size());
        QVERIFY(outcome.seconds > 0);
        // Acknowledged bytes never fall and reach the whole image.
        const auto &steps = observer.progressOf[flashed];
        QVERIFY(!steps.empty());
        for (std::size_t i = 1; i < steps.size(); ++i)
            QVERIFY(steps[i].bytesAcknowledged >= steps[i - 1].bytesAcknowledged);
        QCOMPARE(steps.back().bytesAcknowledged, outcome.bytes);
    }
    QCOMPARE(devices[0]->result().image, first);
    QCOMPARE(devices[2]->result().image, third);
    QCOMPARE(devices[0]->result().bootFile, std::string("image-1.bin"));

    const FlashObserver::Outcome &refused = observer.outcomes[1];
    QVERIFY(!refused.flashed);
    QVERIFY2(refused.error.find("TFTP error 3 (Disk full) at block 2") != std::string::npos, refused.error.c_str());
    QCOMPARE(refused.bytes, std::size_t(512));
    QVERIFY2(observer.outcomes[3].error.find("is listed twice") != std::string::npos, observer.outcomes[3].error.c_str());
    QVERIFY2(observer.outcomes[4].error.find("TFTP can carry at most") != std::string::npos,
             observer.outcomes[4].error.c_str());
    QVERIFY(observer.progressOf[3].empty() && observer.progressOf[4].empty());
    QCOMPARE(observer.progressOf[0].back().percent(), 99); // 100 comes with the outcome only
}

int main(int argc, char **argv)
{
    // Before any thread exists: a network namespace of our own, with lo up.
    if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up") != 0) {
        std::printf("SKIPPED: cannot make a network namespace here (needs root)\n");
        return 77;
    }
    QCoreApplication app(argc, argv);
    tst_FleetFlasher test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fleetflasher.moc"
