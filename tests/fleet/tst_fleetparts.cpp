#include "faketooldir.h"
#include "flashedimages.h"
#include "fleetoptions.h"
#include "flash/flashhistory.h"
#include "flashbatch.h"
#include "hostsweep.h"
#include "imagecatalog.h"
#include "linksweep.h"
#include "passwordbook.h"
#include "targetlist.h"
#include "toollocator.h"
#include "updateplan.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// The fleet tool's parts that need no device: reading targets and password
// files, matching images by trailer, and reading the flasher's output.
class FleetPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void readsTargets_data();
    void readsTargets();
    void refusesTargets_data();
    void refusesTargets();
    void readsTargetFilesWithComments();
    void picksPasswords();
    void refusesPasswordLinesWithoutNamingThePassword();
    void matchesImagesByTrailerLetter();
    void refusesTwoImagesForOneLetter();
    void flashesOneDeviceWithTheScreensCommandLine();
    void flashesSeveralDevicesInOneRun();
    void tellsAnUnconfirmedLastBlockApart_data();
    void tellsAnUnconfirmedLastBlockApart();
    void plansUpdatesBeforeAnythingIsSent();
    void readsTheFailureBudget_data();
    void readsTheFailureBudget();
    void sweepsForHostsThatAcceptConnections();
    void readsTheArpSweep();
    void refusesPasswordFilesOthersCanRead();
    void refusesToolsOthersCanChange();
};

namespace {

QStringList texts(const QVector<quint32> &addresses)
{
    QStringList result;
    for (const quint32 address : addresses)
        result << TargetList::text(address);
    return result;
}

// A password file as its owner alone may read it.
bool writePrivateFile(FakeToolDir &dir, const QString &name, const QByteArray &content)
{
    return dir.writeFile(name, content) && QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner);
}

FlashBatch::Outcome outcomeAt(const QSignalSpy &done, int index)
{
    return qvariant_cast<FlashBatch::Outcome>(done.at(index).at(1));
}

const char unconfirmedLine[] = "ERROR: unconfirmed: no acknowledgement of the last block (137) after 5 "
                               "retransmissions; the device may have taken the whole image";

DeviceFinding finding(quint32 address, const QString &letter, DeviceFinding::State state = DeviceFinding::State::Found)
{
    DeviceFinding found;
    found.address = address;
    found.velquor = true;
    found.state = state;
    found.letter = letter;
    found.deviceText = QStringLiteral("POE Clock Type B");
    return found;
}

} // namespace

void FleetPartsTest::readsTargets_data()
{
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one address") << QStringList{"10.0.5.7"} << QStringList{"10.0.5.7"};
    QTest::newRow("leading zeros are decimal") << QStringList{"010.000.005.009"} << QStringList{"10.0.5.9"};
    QTest::newRow("short range") << QStringList{"10.0.5.20-22"} << QStringList{"10.0.5.20", "10.0.5.21", "10.0.5.22"};
    QTest::newRow("range across a byte") << QStringList{"10.0.5.254-10.0.6.1"}
                                         << QStringList{"10.0.5.254", "10.0.5.255", "10.0.6.0", "10.0.6.1"};
    QTest::newRow("block") << QStringList{"10.0.5.9/30"}
                           << QStringList{"10.0.5.8", "10.0.5.9", "10.0.5.10", "10.0.5.11"};
    QTest::newRow("each address once, in order") << QStringList{"10.0.5.2", "10.0.5.1-3"}
                                                  << QStringList{"10.0.5.2", "10.0.5.1", "10.0.5.3"};
}

void FleetPartsTest::readsTargets()
{
    QFETCH(QStringList, targets);
    QFETCH(QStringList, expected);
    TargetList list;
    QVERIFY2(list.addAll(targets), qPrintable(list.error()));
    QCOMPARE(texts(list.addresses()), expected);
}

void FleetPartsTest::refusesTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("wider than /16") << "10.0.0.0/15" << "wider than /16";
    QTest::newRow("range wider than /16") << "10.0.0.0-10.1.0.0" << "more than a /16";
    QTest::newRow("number over 255") << "10.0.5.256" << "not an IPv4 address";
    QTest::newRow("three numbers") << "10.0.5" << "not an IPv4 address";
    QTest::newRow("backwards range") << "10.0.5.9-3" << "ends before it starts";
    QTest::newRow("bad prefix") << "10.0.5.0/33" << "not an address block";
    QTest::newRow("missing file") << "@/nonexistent/targets" << "cannot read target file";
}

void FleetPartsTest::refusesTargets()
{
    QFETCH(QString, target);
    QFETCH(QString, errorPart);
    TargetList list;
    QVERIFY(!list.add(target));
    QVERIFY2(list.error().contains(errorPart), qPrintable(list.error()));
}

void FleetPartsTest::readsTargetFilesWithComments()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile("targets", "# the east wing\n10.0.5.1  # lobby\n\n10.0.5.3-4\n"));
    TargetList list;
    QVERIFY2(list.add("@targets"), qPrintable(list.error()));
    QCOMPARE(texts(list.addresses()), (QStringList{"10.0.5.1", "10.0.5.3", "10.0.5.4"}));

    QVERIFY(dir.writeFile("broken", "10.0.5.1\n10.0.5.x\n"));
    QVERIFY(!list.add("@broken"));
    QVERIFY2(list.error().startsWith("broken:2:"), qPrintable(list.error()));
}

void FleetPartsTest::picksPasswords()
{
    FakeToolDir dir;
    const quint32 lobby = 0x0A000501, hall = 0x0A000502;
    PasswordBook defaults;
    QCOMPARE(defaults.passwordFor(lobby), PasswordBook::defaultPassword());
    QCOMPARE(defaults.sourceFor(lobby), PasswordBook::Source::Default);

    QVERIFY(writePrivateFile(dir, "one", "# lobby only\n10.0.5.1 two words \r\n"));
    PasswordBook one;
    QVERIFY2(one.readFile("one"), qPrintable(one.error()));
    QCOMPARE(one.passwordFor(lobby), QStringLiteral("two words "));
    QCOMPARE(one.passwordFor(hall), PasswordBook::defaultPassword());

    QVERIFY(writePrivateFile(dir, "all", "* for-all\n10.0.5.1 lobby\n"));
    PasswordBook all;
    QVERIFY(all.readFile("all"));
    qputenv("ZUDIRUV_PASSWORD", "from-env");
    all.takeEnvironment();
    QCOMPARE(all.passwordFor(lobby), QStringLiteral("lobby"));
    QCOMPARE(all.passwordFor(hall), QStringLiteral("for-all"));

    PasswordBook environment;
    environment.takeEnvironment();
    QCOMPARE(environment.passwordFor(hall), QStringLiteral("from-env"));
    QCOMPARE(environment.sourceFor(hall), PasswordBook::Source::Given);
    qunsetenv("ZUDIRUV_PASSWORD");
}

void FleetPartsTest::refusesPasswordLinesWithoutNamingThePassword()
{
    FakeToolDir dir;
    QVERIFY(writePrivateFile(dir, "bad", "10.0.5.1 fine\nlobby Secret-77\n"));
    PasswordBook book;
    QVERIFY(!book.readFile("bad"));
    QVERIFY2(book.error().contains("line 2"), qPrintable(book.error()));
    QVERIFY(!book.error().contains("Secret-77"));
}

void FleetPartsTest::matchesImagesByTrailerLetter()
{
    FakeToolDir dir;
    QVERIFY(QDir(dir.path()).mkdir("images"));
    QVERIFY(QDir(dir.path()).mkdir("staged"));
    QVERIFY(dir.writeFile("images/poe-b.bin", "poe image ODLA"));
    QVERIFY(dir.writeFile("images/vo.bin", "vo1000ODLF"));
    QVERIFY(dir.writeFile("images/odd.bin", "no trailer"));
    QVERIFY(dir.writeFile("images/poe-a.txt", "not a .bin ODLB"));
    ImageCatalog catalog;
    QString error;
    QVERIFY2(catalog.load(dir.path() + "/images", dir.path() + "/staged", &error), qPrintable(error));
    QCOMPARE(catalog.size(), 2);
    QCOMPARE(catalog.ignored(), QStringList{"odd.bin"});
    QVERIFY(!catalog.forLetter("B"));
    const ImageCatalog::Image *poe = catalog.forLetter("A");
    QVERIFY(poe);
    QCOMPARE(poe->fileName, QStringLiteral("poe-b.bin"));
    QCOMPARE(poe->sha256, QString::fromLatin1(QCryptographicHash::hash("poe image ODLA", QCryptographicHash::Sha256).toHex()));
    QFile staged(poe->stagedPath);
    QVERIFY(staged.open(QIODevice::ReadOnly));
    QCOMPARE(staged.readAll(), QByteArray("poe image "));
}

void FleetPartsTest::refusesTwoImagesForOneLetter()
{
    FakeToolDir dir;
    QVERIFY(QDir(dir.path()).mkdir("images"));
    QVERIFY(dir.writeFile("images/first.bin", "oneODLC"));
    QVERIFY(dir.writeFile("images/second.bin", "twoODLC"));
    ImageCatalog catalog;
    QString error;
    QVERIFY(!catalog.load(dir.path() + "/images", dir.path(), &error));
    QVERIFY2(error.contains("first.bin and second.bin") && error.contains("letter C"), qPrintable(error));
}

void FleetPartsTest::flashesOneDeviceWithTheScreensCommandLine()
{
    FakeToolDir dir;
    QVERIFY(dir.install("eflash.exe", "env > environment; echo '% Complete: 5%'; echo '% Complete: 50%';"
                                      "echo '% Complete: 100%'"));
    qputenv("ZUDIRUV_PASSWORD", "Never-Passed-On");
    FlashBatch batch(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"}});
    QSignalSpy progress(&batch, &FlashBatch::progress);
    QSignalSpy done(&batch, &FlashBatch::deviceDone);
    QSignalSpy finished(&batch, &FlashBatch::finished);
    batch.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(dir.lastArguments("eflash.exe"),
             (QStringList{"-i", "10.0.5.1", "-m", "02:00:00:00:00:01", "a.img", "--verbose"}));
    QCOMPARE(progress.count(), 3);
    QCOMPARE(progress.last().at(1).toInt(), 100);
    qunsetenv("ZUDIRUV_PASSWORD");
    QCOMPARE(done.count(), 1);
    QCOMPARE(outcomeAt(done, 0).kind, FlashBatch::Outcome::Kind::Flashed);
    QCOMPARE(outcomeAt(done, 0).exitStatus, 0);
    QVERIFY(dir.readFile("environment").contains("PATH="));
    QVERIFY(!dir.readFile("environment").contains("Never-Passed-On"));

    QVERIFY(dir.install("eflash.exe", "echo '% Complete: 40%'; echo 'ERROR: lost block 9'; exit 1"));
    FlashBatch failing(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"}});
    QSignalSpy failed(&failing, &FlashBatch::deviceDone);
    QSignalSpy failingFinished(&failing, &FlashBatch::finished);
    failing.start();
    QVERIFY(failingFinished.wait(10000));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(outcomeAt(failed, 0).kind, FlashBatch::Outcome::Kind::Failed);
    QCOMPARE(outcomeAt(failed, 0).error, QStringLiteral("ERROR: lost block 9"));
    QCOMPARE(outcomeAt(failed, 0).exitStatus, 1);
}

void FleetPartsTest::flashesSeveralDevicesInOneRun()
{
    FakeToolDir dir;
    QVERIFY(dir.install("eflash.exe",
                        "echo '10.0.5.1: % Complete: 100%'; echo '10.0.5.2: % Complete: 30%';"
                        "echo '10.0.5.2: ERROR: no answer'; echo '10.0.5.3: % Complete: 60%';"
                        "echo '10.0.5.33: ERROR: not ours'; echo '10.0.5.4: % Complete: 100%';"
                        "echo '10.0.5.4: " + QString(unconfirmedLine) + "'; exit 1"));
    FlashBatch batch(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"},
                                                  {"10.0.5.2", "02:00:00:00:00:02", "b.img"},
                                                  {"10.0.5.3", "02:00:00:00:00:03", "a.img"},
                                                  {"10.0.5.4", "02:00:00:00:00:04", "a.img"}});
    QSignalSpy done(&batch, &FlashBatch::deviceDone);
    QSignalSpy finished(&batch, &FlashBatch::finished);
    batch.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(dir.lastArguments("eflash.exe"),
             (QStringList{"-i", "10.0.5.1", "-m", "02:00:00:00:00:01", "a.img",
                          "-i", "10.0.5.2", "-m", "02:00:00:00:00:02", "b.img",
                          "-i", "10.0.5.3", "-m", "02:00:00:00:00:03", "a.img",
                          "-i", "10.0.5.4", "-m", "02:00:00:00:00:04", "a.img", "--verbose"}));
    QHash<QString, FlashBatch::Outcome> outcomes;
    for (int i = 0; i < done.count(); ++i)
        outcomes.insert(done.at(i).at(0).toString(), outcomeAt(done, i));
    QCOMPARE(outcomes.size(), 4);
    QCOMPARE(outcomes.value("10.0.5.1").kind, FlashBatch::Outcome::Kind::Flashed);
    QCOMPARE(outcomes.value("10.0.5.2").kind, FlashBatch::Outcome::Kind::Failed);
    QCOMPARE(outcomes.value("10.0.5.2").errors, QStringList{"ERROR: no answer"});
    QCOMPARE(outcomes.value("10.0.5.3").error, QStringLiteral("eflash.exe ended with status 1"));
    QCOMPARE(outcomes.value("10.0.5.4").kind, FlashBatch::Outcome::Kind::Unconfirmed);
    QCOMPARE(outcomes.value("10.0.5.4").errors, QStringList{unconfirmedLine});
}

void FleetPartsTest::tellsAnUnconfirmedLastBlockApart_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("kind");
    const QString unconfirmed = QStringLiteral("echo '% Complete: 99%'; echo '%1'; ").arg(unconfirmedLine);
    QTest::newRow("alone, exit 1") << unconfirmed + "exit 1" << int(FlashBatch::Outcome::Kind::Unconfirmed);
    QTest::newRow("after another error") << "echo 'ERROR: lost block 3'; " + unconfirmed + "exit 1"
                                         << int(FlashBatch::Outcome::Kind::Failed);
    QTest::newRow("then killed") << unconfirmed + "kill -KILL $$" << int(FlashBatch::Outcome::Kind::Failed);
    QTest::newRow("the words inside a progress line")
        << "echo '% Complete: 100% ERROR: unconfirmed:'; exit 0" << int(FlashBatch::Outcome::Kind::Flashed);
}

void FleetPartsTest::tellsAnUnconfirmedLastBlockApart()
{
    QFETCH(QString, body);
    QFETCH(int, kind);
    FakeToolDir dir;
    QVERIFY(dir.install("eflash.exe", body));
    FlashBatch batch(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"}});
    QSignalSpy done(&batch, &FlashBatch::deviceDone);
    QSignalSpy finished(&batch, &FlashBatch::finished);
    batch.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(done.count(), 1);
    QCOMPARE(int(outcomeAt(done, 0).kind), kind);
}

void FleetPartsTest::plansUpdatesBeforeAnythingIsSent()
{
    FakeToolDir dir;
    QVERIFY(QDir(dir.path()).mkdir("images"));
    QVERIFY(dir.writeFile("images/poe-b.bin", "poe ODLA"));
    ImageCatalog images;
    QString error;
    QVERIFY2(images.load(dir.path() + "/images", dir.path(), &error), qPrintable(error));
    const QString sha = images.forLetter("A")->sha256;

    // The history as the screen and the fleet leave it, with a torn line in
    // the middle and another program's line.
    auto record = [&sha](const QString &mac, const QString &result, const QString &imageSha = QString()) {
        FlashRecord flash;
        flash.time = QDateTime(QDate(2031, 7, 14), QTime(18, 2), Qt::UTC);
        flash.mac = mac;
        flash.image = "poe-b.bin";
        flash.imageSha256 = imageSha.isEmpty() ? sha : imageSha;
        flash.result = result;
        return FlashHistory::line(flash);
    };
    QVERIFY(dir.writeFile("history.jsonl",
                          record("02-5A-00-00-00-05", "complete") + record("02:5a:00:00:00:06", "complete")
                              + record("02:5a:00:00:00:06", "failed") + record("02:5a:00:00:00:07", "complete")
                              + "{\"time\":\"2031-07-14T18:03\",\"mac\":\"02:5a:00:00:00:07\",\"res\n"
                              + "not json at all\n" + record("02:5a:00:00:00:07", "complete", "0badc0de")
                              + record("00:00:00:00:00:00", "complete")
                              + record("02:5a:00:00:00:11", "complete")));
    FlashedImages history;
    QVERIFY(history.load(dir.path() + "/history.jsonl", &error));
    QCOMPARE(history.unreadableLines(), 2);
    FlashedImages none;
    QVERIFY2(none.load(dir.path() + "/missing.jsonl", &error), "a missing history is an empty one");

    auto withMac = [](DeviceFinding device, const QString &mac) {
        device.mac = mac;
        return device;
    };
    DeviceFinding refusing = withMac(finding(0x0A000503, QString(), DeviceFinding::State::WantsPassword), "02:5a:00:00:00:03");
    refusing.givenPassword = true;
    const QVector<DeviceFinding> findings{
        withMac(finding(0x0A000501, "A"), "02:5a:00:00:00:01"),
        withMac(finding(0x0A000502, "E"), "02:5a:00:00:00:02"),
        refusing,
        withMac(finding(0x0A000504, "G", DeviceFinding::State::KindUnknown), "02:5a:00:00:00:04"),
        withMac(finding(0x0A000505, "A"), "02:5a:00:00:00:05"),
        withMac(finding(0x0A000506, "A"), "02:5a:00:00:00:06"),
        withMac(finding(0x0A000507, "A"), "02:5a:00:00:00:07"),
        finding(0x0A000508, "A"),
        withMac(finding(0x0A000509, "A"), "02:5a:00:00:00:09"),
        withMac(finding(0x0A00050A, "A"), "00:00:00:00:00:00"),
        withMac(finding(0x0A00050B, "A"), "02:5a:00:00:00:11"),
    };
    UpdateRules rules;
    rules.history = &history;
    rules.canaries = 2;
    rules.offSegment = [](quint32 address) {
        return address == 0x0A000509 ? QStringLiteral("reached through the router 10.0.4.1 on eth0") : QString();
    };
    UpdatePlan plan(findings, images, rules);
    QCOMPARE(plan.lines(), (QStringList{
        "10.0.5.1 flash: POE Clock Type B (letter A) with poe-b.bin (canary)",
        "10.0.5.2 no image: no image for kind POE Clock Type B (letter E)",
        "10.0.5.3 cannot update: the device refused the given password",
        "10.0.5.4 cannot update: kind or generation could not be determined",
        "10.0.5.5 current: POE Clock Type B (letter A) holds poe-b.bin since 2031-07-14T18:02:00.000Z "
        "(the history's latest flash of 02:5a:00:00:00:05)",
        "10.0.5.6 flash: POE Clock Type B (letter A) with poe-b.bin (canary)",
        "10.0.5.7 flash: POE Clock Type B (letter A) with poe-b.bin",
        "10.0.5.8 cannot update: no MAC address: arpping.exe had no answer",
        "10.0.5.9 not on this machine's segment: POE Clock Type B (letter A) is reached through the router "
        "10.0.4.1 on eth0",
        "10.0.5.10 flash: POE Clock Type B (letter A) with poe-b.bin",
        "10.0.5.11 current: POE Clock Type B (letter A) holds poe-b.bin since 2031-07-14T18:02:00.000Z "
        "(the history's latest flash of 02:5a:00:00:00:11)",
    }));
    QCOMPARE(plan.question(), QStringLiteral("Update 4 devices?"));
    QHash<quint32, UpdatePlan::Device> settled;
    for (const UpdatePlan::Device &device : plan.settled())
        settled.insert(device.finding.address, device);
    const QHash<quint32, QString> results{{0x0A000502, "no-image"}, {0x0A000503, "wants-password"},
                                          {0x0A000504, "kind-unknown"}, {0x0A000505, "current"},
                                          {0x0A000508, "flash-failed"}, {0x0A000509, "not-on-segment"},
                                          {0x0A00050B, "current"}};
    QCOMPARE(settled.size(), results.size());
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        QCOMPARE(fleetResultText(settled.value(it.key()).result), it.value());
    QVERIFY(settled.value(0x0A000505).error.isEmpty());

    rules.reinstall = true;
    rules.canaries = 0;
    UpdatePlan again(findings, images, rules);
    QCOMPARE(again.question(), QStringLiteral("Update 6 devices?"));
    QVERIFY(std::none_of(again.toUpdate().cbegin(), again.toUpdate().cend(),
                         [](const UpdatePlan::Device &device) { return device.canary; }));

    plan.skipAll("dry run");
    QVERIFY(plan.toUpdate().isEmpty());
    QVERIFY(plan.question().isEmpty());
    QCOMPARE(plan.settled().size(), findings.size());
    QCOMPARE(fleetResultText(plan.settled().last().result), QStringLiteral("skipped"));
    QCOMPARE(plan.settled().last().error, QStringLiteral("dry run"));
}

void FleetPartsTest::readsTheFailureBudget_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("budget");
    QTest::newRow("default: a tenth, rounded down") << QStringList() << 25 << 2;
    QTest::newRow("default, fewer than ten") << QStringList() << 9 << 0;
    QTest::newRow("a count") << QStringList{"--max-failures", "3"} << 2 << 3;
    QTest::newRow("a percentage") << QStringList{"--max-failures", "50%"} << 7 << 3;
    QTest::newRow("over 100%") << QStringList{"--max-failures", "101%"} << 7 << -1;
    QTest::newRow("a word") << QStringList{"--max-failures", "few"} << 7 << -1;
    QTest::newRow("a scan") << QStringList{"--canary", "2"} << 7 << -1;
}

void FleetPartsTest::readsTheFailureBudget()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, devices);
    QFETCH(int, budget);
    const bool scan = arguments.contains("--canary");
    QList<QByteArray> words{"zudiruv-fleet", scan ? "scan" : "update"};
    if (!scan)
        words << "--images" << "images";
    for (const QString &argument : arguments)
        words << argument.toUtf8();
    words << "10.0.5.1";
    std::vector<const char *> argv;
    for (const QByteArray &word : words)
        argv.push_back(word.constData());
    FleetOptions options;
    int exitCode = -1;
    const bool parsed = parseFleetOptions(int(argv.size()), argv.data(), &options, &exitCode);
    QCOMPARE(parsed, budget >= 0);
    if (parsed)
        QCOMPARE(failureBudget(options, devices), budget);
    else
        QCOMPARE(exitCode, 2);
}

void FleetPartsTest::sweepsForHostsThatAcceptConnections()
{
    // One loopback address listens on the port, the others refuse it; one
    // connect at a time still gets through them all.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress("127.0.0.1")));
    const QVector<quint32> addresses{0x7F000002, 0x7F000001, 0x7F000003};
    for (const int inFlight : {1, 64}) {
        HostSweep sweep(inFlight, 3000, server.serverPort());
        QSignalSpy accepted(&sweep, &HostSweep::addressAccepted);
        QSignalSpy refused(&sweep, &HostSweep::addressRefused);
        QSignalSpy finished(&sweep, &HostSweep::finished);
        sweep.start(addresses);
        QVERIFY(finished.wait(10000));
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(accepted.first().at(0).value<quint32>(), 0x7F000001u);
        QCOMPARE(refused.count(), 2);
        QCOMPARE(finished.count(), 1);
    }
}

void FleetPartsTest::readsTheArpSweep()
{
    FakeToolDir dir;
    const QString output = "echo 'Reply from 02:5a:00:00:00:07 for 10.0.5.7 on eth0';"
                           "echo 'Reply from 02:5A:00:00:00:09 for 10.0.4.9 on eth0';" // not asked: ignored
                           "echo 'Reply from nonsense for 10.0.5.8 on eth0';"
                           "echo 'Port 80 open at 10.0.5.7 on eth0'; echo 'Port 80 silent at 10.0.5.5 on eth0';"
                           "echo 'Port 8080 closed at 10.0.5.9 on eth0';"
                           "echo 'Swept 10.0.5.0-10.0.5.6 on eth0'; echo 'Swept 10.0.5.7-10.0.5.7 on eth0';"
                           "echo 'Swept 10.0.6.9-10.0.6.1 on eth0'; ";
    QVERIFY(dir.install("arpping.exe", output + "exit 0"));
    LinkSweep sweep(dir.path() + "/arpping.exe");
    QSignalSpy finished(&sweep, &LinkSweep::finished);
    sweep.start({0x0A000505, 0x0A000507, 0x0A000508, 0x0A000509});
    QVERIFY(finished.wait(10000));
    QCOMPARE(dir.lastArguments("arpping.exe"),
             (QStringList{"--sweep", "-w", "1000", "--port", "80", "10.0.5.5-10.0.5.5", "10.0.5.7-10.0.5.9"}));
    QCOMPARE(sweep.macOf(0x0A000507), QStringLiteral("02:5A:00:00:00:07"));
    QCOMPARE(sweep.macOf(0x0A000508), QString());
    QCOMPARE(sweep.port(0x0A000507), LinkSweep::Port::Open);
    QCOMPARE(sweep.port(0x0A000505), LinkSweep::Port::Silent);
    // Another port's answer says nothing about the web port.
    QCOMPARE(sweep.port(0x0A000509), LinkSweep::Port::Unknown);
    QVERIFY(sweep.asked(0x0A000500) && sweep.asked(0x0A000506) && sweep.asked(0x0A000507));
    QVERIFY(!sweep.asked(0x0A000508) && !sweep.asked(0x0A000605));

    // A run that did not end well may have printed only part of what it
    // asked: nothing counts as asked then.
    QVERIFY(dir.install("arpping.exe", output + "exit 1"));
    LinkSweep failed(dir.path() + "/arpping.exe");
    QSignalSpy failedFinished(&failed, &LinkSweep::finished);
    failed.start({0x0A000505});
    QVERIFY(failedFinished.wait(10000));
    QVERIFY(!failed.asked(0x0A000505));

    LinkSweep without{QString()};
    QSignalSpy withoutFinished(&without, &LinkSweep::finished);
    without.start({0x0A000505});
    QVERIFY(withoutFinished.wait(5000));
    QVERIFY(!without.asked(0x0A000505));
}

void FleetPartsTest::refusesPasswordFilesOthersCanRead()
{
    FakeToolDir dir;
    QVERIFY(dir.writeFile("shared", "* Lobby-7\n"));
    for (const QFile::Permissions open : {QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::WriteGroup}) {
        QVERIFY(QFile::setPermissions("shared", open));
        PasswordBook book;
        QVERIFY(!book.readFile("shared"));
        QVERIFY2(book.error().contains("\"shared\"") && book.error().contains("chmod 600"), qPrintable(book.error()));
        QVERIFY(!book.error().contains("Lobby-7"));
        QCOMPARE(book.sourceFor(0x0A000501), PasswordBook::Source::Default);
    }
    QVERIFY(QFile::setPermissions("shared", QFile::ReadOwner));
    PasswordBook book;
    QVERIFY2(book.readFile("shared"), qPrintable(book.error()));
    QCOMPARE(book.passwordFor(0x0A000501), QStringLiteral("Lobby-7"));
}

void FleetPartsTest::refusesToolsOthersCanChange()
{
    FakeToolDir dir;
    QVERIFY(QDir(dir.path()).mkpath("tools/bin"));
    QVERIFY(dir.install("tools/bin/eflash.exe", "exit 0"));
    const QString tool = dir.path() + "/tools/bin/eflash.exe";
    QCOMPARE(unsafePathReason(tool), QString());

    const QFile::Permissions toolMode = QFile::permissions(tool);
    QVERIFY(QFile::setPermissions(tool, toolMode | QFile::WriteOther));
    QVERIFY2(unsafePathReason(tool).contains(tool + " is writable by group or others"), qPrintable(unsafePathReason(tool)));
    QVERIFY(QFile::setPermissions(tool, toolMode));

    const QString folder = dir.path() + "/tools";
    const QFile::Permissions folderMode = QFile::permissions(folder);
    QVERIFY(QFile::setPermissions(folder, folderMode | QFile::WriteGroup));
    QVERIFY2(unsafePathReason(tool).contains(folder + " is writable"), qPrintable(unsafePathReason(tool)));
    QVERIFY(QFile::setPermissions(folder, folderMode));

    if (::getuid() != 0)
        QSKIP("only root can give the tool to another user");
    QVERIFY(::chown(QFile::encodeName(tool).constData(), 65534, 65534) == 0);
    QVERIFY2(unsafePathReason(tool).contains("belongs to another user"), qPrintable(unsafePathReason(tool)));
}

QTEST_GUILESS_MAIN(FleetPartsTest)

#include "tst_fleetparts.moc"
