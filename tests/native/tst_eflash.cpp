#include "faketooldir.h"
#include "flash/eflash.h"

#include <QSignalSpy>
#include <QtTest>

// The flasher half of eFlash, run against shell scripts standing in for
// eflash.exe in a scratch working directory.
class TestEFlash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void passesExactlyTheDocumentedCommandLine_data();
    void passesExactlyTheDocumentedCommandLine();
    void turnsOutputLinesIntoProgressAndErrors_data();
    void turnsOutputLinesIntoProgressAndErrors();
    void progressNotifiesOnlyOnChange();
    void repeatedValueInTheNextRunRaisesNoNotice();
    void readsLinesArrivingInPieces();
    void missingToolReportsNothing();
};

namespace {

void installPrinter(FakeToolDir &dir, const QByteArray &output)
{
    QVERIFY(dir.writeFile(QStringLiteral("output.bin"), output));
    QVERIFY(dir.install(QStringLiteral("eflash.exe"), QStringLiteral("cat output.bin")));
}

bool runToEnd(eFlash &flash)
{
    QSignalSpy finished(&flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    flash.flash(QStringLiteral("127.0.0.1"), QStringLiteral("00:11:22:33:44:55"));
    return finished.wait(10000);
}

} // namespace

void TestEFlash::initTestCase()
{
    qRegisterMetaType<QProcess::ExitStatus>();
    qRegisterMetaType<QProcess::ProcessError>();
}

void TestEFlash::passesExactlyTheDocumentedCommandLine_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("mac");
    QTest::newRow("addresses") << QStringLiteral("10.0.0.7") << QStringLiteral("00:1A:2b:3C:4d:5E");
    QTest::newRow("empty texts") << QString() << QString();
    QTest::newRow("texts with spaces and quotes")
        << QStringLiteral("1.2.3.4 --evil") << QStringLiteral("'$(true)' \"x\"");
}

void TestEFlash::passesExactlyTheDocumentedCommandLine()
{
    QFETCH(QString, ip);
    QFETCH(QString, mac);
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("eflash.exe"), QString()));
    eFlash flash;
    QSignalSpy finished(&flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    flash.flash(ip, mac);
    QVERIFY(finished.wait(10000));
    QCOMPARE(dir.lastArguments(QStringLiteral("eflash.exe")),
             (QStringList{QStringLiteral("-i"), ip, QStringLiteral("-m"), mac,
                          QStringLiteral("./flashfile.tmp"), QStringLiteral("--verbose")}));
}

void TestEFlash::turnsOutputLinesIntoProgressAndErrors_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QList<int>>("progressSeen");
    QTest::addColumn<int>("errors");

    // Every run starts from progress 5, so that a 0 shows as a change.
    QTest::newRow("percentage") << QByteArray("% Complete: 42%\n") << QList<int>{42} << 0;
    QTest::newRow("rising to 100")
        << QByteArray("Complete: 10%\nComplete: 55%\nComplete: 100%\n") << QList<int>{10, 55, 100} << 0;
    QTest::newRow("only a percent sign after the last space")
        << QByteArray("Complete: %\n") << QList<int>{0} << 0;
    QTest::newRow("no percent sign") << QByteArray("Complete: 42\n") << QList<int>{42} << 0;
    QTest::newRow("CR LF") << QByteArray("Complete: 42%\r\n") << QList<int>{42} << 0;
    QTest::newRow("no space at all") << QByteArray("Complete:42%\n") << QList<int>{0} << 0;
    QTest::newRow("last space wins") << QByteArray("Complete: 12 of 34%\n") << QList<int>{34} << 0;
    QTest::newRow("first percent sign wins")
        << QByteArray("Complete: 12%34%\n") << QList<int>{12} << 0;
    QTest::newRow("signed") << QByteArray("Complete: -7%\n") << QList<int>{-7} << 0;
    QTest::newRow("out of range") << QByteArray("Complete: 99999999999%\n") << QList<int>{0} << 0;
    QTest::newRow("zero byte ends the text")
        << QByteArray("Complete: 42%") + '\0' + " 99%\n" << QList<int>{42} << 0;
    QTest::newRow("markers are case-sensitive")
        << QByteArray("complete: 42%\nError: disk\nerror\n") << QList<int>{} << 0;
    QTest::newRow("each error line counts")
        << QByteArray("ERROR: no answer\nretrying\nERROR: no answer\n") << QList<int>{} << 2;
    QTest::newRow("error in the percentage field of a progress line")
        << QByteArray("Complete: ERROR%\n") << QList<int>{0} << 1;
    QTest::newRow("error outside the percentage field does not count")
        << QByteArray("ERROR Complete: 42%\nComplete: 43%ERROR\n") << QList<int>{42, 43} << 0;
    QTest::newRow("error after the last space counts")
        << QByteArray("Complete: 42% ERROR\n") << QList<int>{0} << 1;
    QTest::newRow("last line without line end is never read")
        << QByteArray("Complete: 42%\nERROR: lost\nComplete: 77%") << QList<int>{42} << 1;
}

void TestEFlash::turnsOutputLinesIntoProgressAndErrors()
{
    QFETCH(QByteArray, output);
    QFETCH(QList<int>, progressSeen);
    QFETCH(int, errors);

    FakeToolDir dir;
    installPrinter(dir, output);
    eFlash flash;
    flash.setProgress(5);
    QList<int> seen;
    connect(&flash, &eFlash::progressChanged, this, [&] { seen << flash.progress(); });
    QSignalSpy errorSpy(&flash, qOverload<>(&eFlash::error));
    QSignalSpy fileInvalid(&flash, &eFlash::fileInvalid);
    QVERIFY(runToEnd(flash));

    QCOMPARE(seen, progressSeen);
    QCOMPARE(errorSpy.count(), errors);
    QCOMPARE(fileInvalid.count(), 0);
}

void TestEFlash::progressNotifiesOnlyOnChange()
{
    eFlash flash;
    QSignalSpy changed(&flash, &eFlash::progressChanged);
    flash.setProgress(30);
    flash.setProgress(30);
    QCOMPARE(flash.property("progress").toInt(), 30);
    QVERIFY(flash.setProperty("progress", 31));
    QCOMPARE(changed.count(), 2);

    FakeToolDir dir;
    installPrinter(dir, "Complete: 31%\nComplete: 31%\nComplete: 32%\n");
    QVERIFY(runToEnd(flash));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(flash.progress(), 32);
}

void TestEFlash::repeatedValueInTheNextRunRaisesNoNotice()
{
    FakeToolDir dir;
    installPrinter(dir, "Complete: 100%\n");
    eFlash flash;
    QSignalSpy changed(&flash, &eFlash::progressChanged);
    QVERIFY(runToEnd(flash));
    QCOMPARE(changed.count(), 1);
    QVERIFY(runToEnd(flash));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(dir.runCount(QStringLiteral("eflash.exe")), 2);
}

void TestEFlash::readsLinesArrivingInPieces()
{
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("eflash.exe"),
                        QStringLiteral("printf '%% Compl'; sleep 0.3; printf 'ete: 6'; sleep 0.3; "
                                       "printf '4%%\\nERR'; sleep 0.3; printf 'OR\\n'")));
    eFlash flash;
    QSignalSpy changed(&flash, &eFlash::progressChanged);
    QSignalSpy errors(&flash, qOverload<>(&eFlash::error));
    QVERIFY(runToEnd(flash));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(flash.progress(), 64);
    QCOMPARE(errors.count(), 1);
}

void TestEFlash::missingToolReportsNothing()
{
    FakeToolDir dir;
    eFlash flash;
    QSignalSpy changed(&flash, &eFlash::progressChanged);
    QSignalSpy errors(&flash, qOverload<>(&eFlash::error));
    QSignalSpy finished(&flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QSignalSpy failed(&flash, &QProcess::errorOccurred);
    flash.flash(QStringLiteral("127.0.0.1"), QStringLiteral("00:11:22:33:44:55"));
    QVERIFY(failed.count() == 1 || failed.wait(5000));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(errors.count(), 0);
    QCOMPARE(finished.count(), 0);
}

QTEST_GUILESS_MAIN(TestEFlash)
#include "tst_eflash.moc"
