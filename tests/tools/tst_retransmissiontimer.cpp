// The flasher's retransmission timer against RFC 6298's own update rules,
// computed here in floating point from the same samples.

#include "retransmissiontimer.h"

#include <QtTest>

#include <algorithm>
#include <cmath>

namespace {

using Milliseconds = std::chrono::duration<double, std::milli>;

// RFC 6298 section 2, with the flasher's bounds and clock granularity.
struct Rfc6298
{
    double smoothed = -1;
    double variation = 0;
    double timeout = 1000;

    void sample(double roundTrip)
    {
        if (smoothed < 0) {
            smoothed = roundTrip;
            variation = roundTrip / 2;
        } else {
            variation = 0.75 * variation + 0.25 * std::fabs(smoothed - roundTrip);
            smoothed = 0.875 * smoothed + 0.125 * roundTrip;
        }
        timeout = std::clamp(smoothed + std::max(10.0, 4 * variation), 20.0, 1000.0);
    }
};

double milliseconds(std::chrono::microseconds value)
{
    return Milliseconds(value).count();
}

RetransmissionTimer::Clock::duration after(double ms)
{
    return std::chrono::duration_cast<RetransmissionTimer::Clock::duration>(Milliseconds(ms));
}

}

class tst_RetransmissionTimer : public QObject
{
    Q_OBJECT

private slots:
    void followsTheRoundTrip_data();
    void followsTheRoundTrip();
    void resentBlockGivesNoSampleAndKeepsTheBackOff();
};

void tst_RetransmissionTimer::followsTheRoundTrip_data()
{
    QTest::addColumn<QVector<double>>("samples");
    QTest::newRow("one sample") << QVector<double>{40};
    QTest::newRow("a device that turns slow") << QVector<double>{10, 50, 20, 80, 5, 60};
    QTest::newRow("a busy link") << QVector<double>{120, 300, 90, 250};
    QTest::newRow("a quiet LAN: the floor") << QVector<double>{0.3, 0.3, 0.4, 0.3};
    QTest::newRow("a slow link: the ceiling") << QVector<double>{700, 200, 900};
}

void tst_RetransmissionTimer::followsTheRoundTrip()
{
    QFETCH(QVector<double>, samples);
    RetransmissionTimer timer;
    Rfc6298 oracle;
    QCOMPARE(milliseconds(timer.timeout()), oracle.timeout);
    for (const double sample : samples) {
        timer.acknowledged(after(sample));
        oracle.sample(sample);
        const QString context = QStringLiteral("after %1 ms").arg(sample);
        QVERIFY2(std::fabs(milliseconds(timer.timeout()) - oracle.timeout) < 0.01,
                 qPrintable(context + QStringLiteral(": %1 against %2").arg(milliseconds(timer.timeout())).arg(oracle.timeout)));
        QVERIFY2(std::fabs(milliseconds(*timer.smoothedRoundTrip()) - oracle.smoothed) < 0.01, qPrintable(context));
        QVERIFY2(std::fabs(milliseconds(timer.roundTripVariation()) - oracle.variation) < 0.01, qPrintable(context));
    }
}

void tst_RetransmissionTimer::resentBlockGivesNoSampleAndKeepsTheBackOff()
{
    RetransmissionTimer timer;
    Rfc6298 oracle;
    for (const double sample : {0.5, 0.4, 0.6}) {
        timer.acknowledged(after(sample));
        oracle.sample(sample);
    }
    QCOMPARE(milliseconds(timer.timeout()), 20.0);

    // The device turns slow: the block goes out three times, then one ACK
    // comes, 50 ms after the first copy.
    timer.backOff();
    timer.backOff();
    QCOMPARE(milliseconds(timer.timeout()), 80.0);
    timer.acknowledged(after(10));
    QCOMPARE(milliseconds(timer.timeout()), 80.0);
    QVERIFY(std::fabs(milliseconds(*timer.smoothedRoundTrip()) - oracle.smoothed) < 0.01);

    // The next block, sent once, is the next sample.
    timer.acknowledged(after(50));
    oracle.sample(50);
    QVERIFY2(std::fabs(milliseconds(timer.timeout()) - oracle.timeout) < 0.01,
             qPrintable(QString::number(milliseconds(timer.timeout()))));

    for (int loss = 0; loss < 8; ++loss)
        timer.backOff();
    QCOMPARE(milliseconds(timer.timeout()), 1000.0);
}

QTEST_GUILESS_MAIN(tst_RetransmissionTimer)
#include "tst_retransmissiontimer.moc"
