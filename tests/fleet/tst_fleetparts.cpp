#include "faketooldir.h"
#include "flashbatch.h"
#include "imagecatalog.h"
#include "passwordbook.h"
#include "targetlist.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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
    void asksTheFlasherHowManyDevicesItTakes();
};

namespace {

QStringList texts(const QVector<quint32> &addresses)
{
    QStringList result;
    for (const quint32 address : addresses)
        result << TargetList::text(address);
    return result;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
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

    QVERIFY(dir.writeFile("one", "# lobby only\n10.0.5.1 two words \r\n"));
    PasswordBook one;
    QVERIFY2(one.readFile("one"), qPrintable(one.error()));
    QCOMPARE(one.passwordFor(lobby), QStringLiteral("two words "));
    QCOMPARE(one.passwordFor(hall), PasswordBook::defaultPassword());

    QVERIFY(dir.writeFile("all", "* for-all\n10.0.5.1 lobby\n"));
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
    QVERIFY(dir.writeFile("bad", "10.0.5.1 fine\nlobby Secret-77\n"));
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
    QVERIFY(dir.install("eflash.exe", "echo '% Complete: 5%'; echo '% Complete: 50%'; echo '% Complete: 100%'"));
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
    QCOMPARE(done.count(), 1);
    QCOMPARE(done.first().at(1).toString(), QString());

    QVERIFY(dir.install("eflash.exe", "echo '% Complete: 40%'; echo 'ERROR: lost block 9'; exit 1"));
    FlashBatch failing(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"}});
    QSignalSpy failed(&failing, &FlashBatch::deviceDone);
    QSignalSpy failingFinished(&failing, &FlashBatch::finished);
    failing.start();
    QVERIFY(failingFinished.wait(10000));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.first().at(1).toString(), QStringLiteral("ERROR: lost block 9"));
}

void FleetPartsTest::flashesSeveralDevicesInOneRun()
{
    FakeToolDir dir;
    QVERIFY(dir.install("eflash.exe",
                        "echo '10.0.5.1: % Complete: 100%'; echo '10.0.5.2: % Complete: 30%';"
                        "echo '10.0.5.2: ERROR: no answer'; echo '10.0.5.3: % Complete: 60%';"
                        "echo '10.0.5.33: ERROR: not ours'; exit 1"));
    FlashBatch batch(dir.path() + "/eflash.exe", {{"10.0.5.1", "02:00:00:00:00:01", "a.img"},
                                                  {"10.0.5.2", "02:00:00:00:00:02", "b.img"},
                                                  {"10.0.5.3", "02:00:00:00:00:03", "a.img"}});
    QSignalSpy done(&batch, &FlashBatch::deviceDone);
    QSignalSpy finished(&batch, &FlashBatch::finished);
    batch.start();
    QVERIFY(finished.wait(10000));
    QCOMPARE(dir.lastArguments("eflash.exe"),
             (QStringList{"-i", "10.0.5.1", "-m", "02:00:00:00:00:01", "a.img",
                          "-i", "10.0.5.2", "-m", "02:00:00:00:00:02", "b.img",
                          "-i", "10.0.5.3", "-m", "02:00:00:00:00:03", "a.img", "--verbose"}));
    QHash<QString, QString> errors;
    for (const QList<QVariant> &signal : done)
        errors.insert(signal.at(0).toString(), signal.at(1).toString());
    QCOMPARE(errors.size(), 3);
    QCOMPARE(errors.value("10.0.5.1"), QString());
    QCOMPARE(errors.value("10.0.5.2"), QStringLiteral("ERROR: no answer"));
    QCOMPARE(errors.value("10.0.5.3"), QStringLiteral("eflash.exe ended with status 1"));
}

void FleetPartsTest::asksTheFlasherHowManyDevicesItTakes()
{
    FakeToolDir dir;
    QVERIFY(dir.install("eflash.exe", "echo 'usage: eflash.exe -i IP -m MAC IMAGE [--verbose] [--bootloader-wait-ms MS]'"));
    QCOMPARE(FlashBatch::devicesPerRun(dir.path() + "/eflash.exe", 8), 1);
    QCOMPARE(dir.lastArguments("eflash.exe"), QStringList{"--help"});
    QVERIFY(dir.install("eflash.exe", "echo 'usage: eflash.exe -i IP -m MAC IMAGE [-i IP -m MAC IMAGE ...] [--verbose]'"));
    QCOMPARE(FlashBatch::devicesPerRun(dir.path() + "/eflash.exe", 8), 8);
    QCOMPARE(FlashBatch::devicesPerRun(dir.path() + "/missing.exe", 8), 1);
}

QTEST_GUILESS_MAIN(FleetPartsTest)

#include "tst_fleetparts.moc"
