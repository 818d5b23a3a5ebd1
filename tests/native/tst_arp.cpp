#include "device/arp.h"
#include "faketooldir.h"

#include <QSignalSpy>
#include <QtTest>

// The lookup runs the real process machinery against small shell scripts
// standing in for arpping.exe in a scratch working directory.
class TestArp : public QObject
{
    Q_OBJECT

private slots:
    void passesExactlyTheDocumentedCommandLine_data();
    void passesExactlyTheDocumentedCommandLine();
    void announcesTheLookupBeforeStartingTheTool();
    void readsTheAnswerFromTheToolsOutput_data();
    void readsTheAnswerFromTheToolsOutput();
    void waitsForTheLineEndOfAnAnswerArrivingInPieces();
    void newLookupWhileOneRunsReplacesTheEarlierRun();
    void missingToolReportsNothing();
};

void TestArp::passesExactlyTheDocumentedCommandLine_data()
{
    QTest::addColumn<QString>("ip");
    QTest::newRow("address") << QStringLiteral("192.168.1.20");
    QTest::newRow("empty text") << QString();
    QTest::newRow("text with spaces") << QStringLiteral("not an address; rm -rf /");
}

void TestArp::passesExactlyTheDocumentedCommandLine()
{
    QFETCH(QString, ip);
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("arpping.exe"), QString()));
    Arp arp;
    QVERIFY(FakeToolDir::runToEnd(arp, [&] { arp.getMac(ip); }));
    QCOMPARE(dir.lastArguments(QStringLiteral("arpping.exe")),
             (QStringList{QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-w"),
                          QStringLiteral("3000"), ip}));
}

void TestArp::announcesTheLookupBeforeStartingTheTool()
{
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("arpping.exe"), QString()));
    Arp arp;
    QStringList events;
    connect(&arp, &Arp::gettingMac, this, [&] {
        events << QStringLiteral("gettingMac:") + QString::number(arp.state());
    });
    connect(&arp, &QProcess::started, this, [&] { events << QStringLiteral("started"); });
    QVERIFY(FakeToolDir::runToEnd(arp, [&] { arp.getMac(QStringLiteral("127.0.0.1")); }));
    QCOMPARE(events, (QStringList{QStringLiteral("gettingMac:0"), QStringLiteral("started")}));
}

void TestArp::readsTheAnswerFromTheToolsOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("received");
    QTest::addColumn<int>("noResponses");

    const QString mac = QStringLiteral("00:11:22:33:44:55");
    QTest::newRow("four fields") << QByteArray("Reply from 00:11:22:33:44:55 for\n")
                                 << QStringList{mac} << 0;
    QTest::newRow("last field keeps CR LF")
        << QByteArray("Reply from 00:11:22:33:44:55\r\n")
        << QStringList{mac + QStringLiteral("\r\n")} << 0;
    QTest::newRow("double space leaves an empty field")
        << QByteArray("Reply  from 00:11:22:33:44:55 x\n") << QStringList{QStringLiteral("from")} << 0;
    QTest::newRow("two words answer with empty text")
        << QByteArray("Hello world\n00:11 x 00:11:22:33:44:55 y\n") << QStringList{QString()} << 0;
    QTest::newRow("first qualifying line wins")
        << QByteArray("a b first c\na b second c\n") << QStringList{QStringLiteral("first")} << 0;
    QTest::newRow("no response before and after the answer")
        << QByteArray("No response from 1.2.3.4\nReply from 00:11:22:33:44:55 x\nstill No response\n")
        << QStringList{mac} << 2;
    QTest::newRow("no response only") << QByteArray("No response\nNo response\n") << QStringList{} << 2;
    QTest::newRow("no response is case-sensitive")
        << QByteArray("no RESPONSE here\n") << QStringList{QStringLiteral("here\n")} << 0;
    QTest::newRow("line starting with a zero byte is skipped")
        << QByteArray(1, '\0') + "Reply from aa:bb:cc:dd:ee:ff x\nReply from 00:11:22:33:44:55 x\n"
        << QStringList{mac} << 0;
    QTest::newRow("text ends at a zero byte")
        << QByteArray("Reply from 00:11:22") + '\0' + ":33:44:55 x\n" << QStringList{QStringLiteral("00:11:22")} << 0;
    QTest::newRow("utf-8 text") << QByteArray("Antwort von \xc3\x84\xc3\x96 x\n")
                                << QStringList{QString::fromUtf8("\xc3\x84\xc3\x96")} << 0;
    QTest::newRow("last line without line end is never read")
        << QByteArray("Reply from 00:11:22:33:44:55 x") << QStringList{} << 0;
    QTest::newRow("no output") << QByteArray() << QStringList{} << 0;
}

void TestArp::readsTheAnswerFromTheToolsOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, received);
    QFETCH(int, noResponses);

    FakeToolDir dir;
    QVERIFY(dir.installPrinter(QStringLiteral("arpping.exe"), output));
    Arp arp;
    QSignalSpy receivedSpy(&arp, &Arp::received);
    QSignalSpy noResponseSpy(&arp, &Arp::noResponse);
    QSignalSpy doneSpy(&arp, &Arp::done);
    QVERIFY(FakeToolDir::runToEnd(arp, [&] { arp.getMac(QStringLiteral("127.0.0.1")); }));

    QStringList got;
    for (const QList<QVariant> &arguments : receivedSpy)
        got << arguments.at(0).toString();
    QCOMPARE(got, received);
    QCOMPARE(noResponseSpy.count(), noResponses);
    QCOMPARE(doneSpy.count(), 0);
}

void TestArp::waitsForTheLineEndOfAnAnswerArrivingInPieces()
{
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("arpping.exe"),
                        QStringLiteral("printf 'Reply from 00:11'; sleep 0.3; "
                                       "printf ':22:33:44:55 in'; sleep 0.3; printf ' 1 ms\\n'")));
    Arp arp;
    QSignalSpy received(&arp, &Arp::received);
    QVERIFY(FakeToolDir::runToEnd(arp, [&] { arp.getMac(QStringLiteral("127.0.0.1")); }));
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("00:11:22:33:44:55"));
}

void TestArp::newLookupWhileOneRunsReplacesTheEarlierRun()
{
    // Answers at once, then lingers as the real tool may.
    FakeToolDir dir;
    QVERIFY(dir.install(QStringLiteral("arpping.exe"),
                        QStringLiteral("echo \"Reply from mac-of-$5 x\"; echo 'No response'; exec sleep 20")));
    QStringList events; // outlives the lingering run, which ends with `arp`
    Arp arp;
    connect(&arp, &Arp::gettingMac, this, [&] { events << QStringLiteral("gettingMac"); });
    connect(&arp, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [&](int, QProcess::ExitStatus status) {
                events << (status == QProcess::CrashExit ? QStringLiteral("killed") : QStringLiteral("ended"));
            });
    QSignalSpy gettingMac(&arp, &Arp::gettingMac);
    QSignalSpy received(&arp, &Arp::received);
    QSignalSpy noResponse(&arp, &Arp::noResponse);

    arp.getMac(QStringLiteral("127.0.0.1"));
    // Waiting without the event loop leaves the answer unread in the pipe.
    for (int i = 0; i < 100 && dir.runCount(QStringLiteral("arpping.exe")) == 0; ++i)
        QThread::msleep(50);
    QThread::msleep(200);
    arp.getMac(QStringLiteral("127.0.0.2"));
    QCOMPARE(gettingMac.count(), 2);
    // The earlier run is ended at once, and its end comes before the new lookup.
    QCOMPARE(events, (QStringList{QStringLiteral("gettingMac"), QStringLiteral("killed"),
                                  QStringLiteral("gettingMac")}));
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), 1, 5000);
    QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("mac-of-127.0.0.2"));
    QCOMPARE(noResponse.count(), 1);
    QCOMPARE(dir.runCount(QStringLiteral("arpping.exe")), 2);
    QCOMPARE(dir.lastArguments(QStringLiteral("arpping.exe")).last(), QStringLiteral("127.0.0.2"));
}

void TestArp::missingToolReportsNothing()
{
    FakeToolDir dir;
    Arp arp;
    QSignalSpy gettingMac(&arp, &Arp::gettingMac);
    QSignalSpy received(&arp, &Arp::received);
    QSignalSpy noResponse(&arp, &Arp::noResponse);
    QSignalSpy finished(&arp, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QSignalSpy failed(&arp, &QProcess::errorOccurred);

    arp.getMac(QStringLiteral("127.0.0.1"));
    QVERIFY(failed.count() == 1 || failed.wait(5000));
    QCOMPARE(failed.at(0).at(0).value<QProcess::ProcessError>(), QProcess::FailedToStart);
    QCOMPARE(gettingMac.count(), 1);
    QCOMPARE(received.count(), 0);
    QCOMPARE(noResponse.count(), 0);
    QCOMPARE(finished.count(), 0);
}

QTEST_GUILESS_MAIN(TestArp)
#include "tst_arp.moc"
