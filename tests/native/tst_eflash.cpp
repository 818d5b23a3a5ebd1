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
    void passesExactlyTheDocumentedCommandLine_data();
    void passesExactlyTheDocumentedCommandLine();
    void turnsOutputLinesIntoProgressAndErrors_data();
    void turnsOutputLinesIntoProgressAndErrors();
    void progressNotifiesOnlyOnChange();
    void repeatedValueInTheNextRunRaisesNoNotice();
    void readsLinesArrivingInPieces();
    void failedEndIsAnError_data();
    void failedEndIsAnError();
    void newFlashWhileOneRunsReplacesTheEarlierRun();
    void missingToolReportsNothing();
};

namespace {

bool runToEnd(eFlash &flash)
{
    return FakeToolDir::runToEnd(flash, [&] {
        flash.flash(QStringLiteral("127.0.0.1"), QStringLiteral("00:11:22:33:44:55"));
    });
}

} // namespace

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
    QVERIFY(FakeToolDir::runToEnd(flash, [&] { flash.flash(ip, mac); }));
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
    QVERIFY(dir.installPrinter(QStringLiteral("eflash.exe"), output));
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
    QVERIFY(dir.installPrinter(QStringLiteral("eflash.exe"), "Complete: 31%\nComplete: 31%\nComplete: 32%\n"));
    QVERIFY(runToEnd(flash));
    QCOMPARE(changed.count(), 3);
    QCOMPARE(flash.progress(), 32);
}

void TestEFlash::repeatedValueInTheNextRunRaisesNoNotice()
{
    FakeToolDir dir;
    QVERIFY(dir.installPrinter(QStringLiteral("eflash.exe"), "Complete: 100%\n"));
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

void TestEFlash::failedEndIsAnError_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("events");

    const QString progress = QStringLiteral("progress");
    const QString error = QStringLiteral("error");
    const QString finished = QStringLiteral("finished");
    QTest::newRow("exit 0") << QStringLiteral("echo '% Complete: 100%'")
                            << QStringList{progress, finished};
    QTest::newRow("non-zero exit without an ERROR line")
        << QStringLiteral("echo '% Complete: 100%'; exit 3") << QStringList{progress, error, finished};
    QTest::newRow("ERROR line and non-zero exit")
        << QStringLiteral("echo 'ERROR: timeout'; exit 1") << QStringList{error, error, finished};
    QTest::newRow("killed half way")
        << QStringLiteral("echo '% Complete: 50%'; kill -KILL $$") << QStringList{progress, error, finished};
    QTest::newRow("crash") << QStringLiteral("kill -SEGV $$") << QStringList{error, finished};
}

void TestEFlash::failedEndIsAnError()
{
    QFETCH(QString, body);
    QFETCH(QStringList, events);
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("eflash.exe"), body));
    eFlash flash;
    QStringList seen;
    connect(&flash, &eFlash::progressChanged, this, [&] { seen << QStringLiteral("progress"); });
    connect(&flash, qOverload<>(&eFlash::error), this, [&] { seen << QStringLiteral("error"); });
    connect(&flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [&] { seen << QStringLiteral("finished"); });
    QVERIFY(runToEnd(flash));
    QCOMPARE(seen, events);
}

void TestEFlash::newFlashWhileOneRunsReplacesTheEarlierRun()
{
    // The run for 127.0.0.1 lingers; any other finishes at once.
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("eflash.exe"),
                        QStringLiteral("[ \"$2\" = 127.0.0.1 ] && { echo '% Complete: 10%'; exec sleep 20; }\n"
                                       "echo '% Complete: 100%'")));
    eFlash flash;
    QSignalSpy errors(&flash, qOverload<>(&eFlash::error));
    QSignalSpy finished(&flash, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    flash.flash(QStringLiteral("127.0.0.1"), QStringLiteral("00:11:22:33:44:55"));
    QTRY_COMPARE_WITH_TIMEOUT(flash.progress(), 10, 5000);

    flash.flash(QStringLiteral("127.0.0.4"), QStringLiteral("66:77:88:99:aa:bb"));
    // The earlier run has ended, as a failed one, before the call returns.
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::CrashExit);
    QCOMPARE(errors.count(), 1);
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.at(1).at(0).toInt(), 0);
    QCOMPARE(flash.progress(), 100);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(dir.runCount(QStringLiteral("eflash.exe")), 2);
    QCOMPARE(dir.lastArguments(QStringLiteral("eflash.exe")),
             (QStringList{QStringLiteral("-i"), QStringLiteral("127.0.0.4"), QStringLiteral("-m"),
                          QStringLiteral("66:77:88:99:aa:bb"), QStringLiteral("./flashfile.tmp"),
                          QStringLiteral("--verbose")}));
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
