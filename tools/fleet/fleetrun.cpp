#include "fleetrun.h"

#include "consoleoutput.h"
#include "devicescanner.h"
#include "fleetupdate.h"
#include "interruptwatch.h"
#include "ipv4text.h"
#include "openfilebudget.h"
#include "probeengine.h"
#include "targetlist.h"
#include "toollocator.h"

#include <QTimer>

namespace {

// Addresses asked at once during a scan, if the descriptor limit allows.
constexpr int scanInFlightWanted = 64;
constexpr int progressIntervalMs = 200;

QString passwordState(const DeviceFinding &finding)
{
    if (finding.state == DeviceFinding::State::WantsPassword)
        return finding.givenPassword ? QStringLiteral("given password refused") : QStringLiteral("wants a password");
    return finding.givenPassword ? QStringLiteral("given password accepted") : QStringLiteral("default password accepted");
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

} // namespace

FleetRun::FleetRun(const FleetOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
}

FleetRun::~FleetRun()
{
    // Every conversation goes before the engine that made it.
    delete m_update;
    delete m_scanner;
    delete m_engine;
}

int FleetRun::start()
{
    TargetList targets;
    if (!targets.addAll(m_options.targets)) {
        printError(QStringLiteral("zudiruv-fleet: %1\n").arg(targets.error()));
        return 2;
    }
    if (!m_options.passwordFile.isEmpty() && !m_passwords.readFile(m_options.passwordFile)) {
        printError(QStringLiteral("zudiruv-fleet: %1\n").arg(m_passwords.error()));
        return 2;
    }
    m_passwords.takeEnvironment();

    raiseOpenFileLimit();
    m_engine = new ProbeEngine(this);
    if (!m_engine->isReady()) {
        printError(QStringLiteral("zudiruv-fleet: cannot load the probe worker: %1\n").arg(m_engine->errorString()));
        return 1;
    }
    if (m_options.command == FleetOptions::Command::Update) {
        if (!m_options.dryRun && !m_options.yes && !inputIsTerminal()) {
            printError(QStringLiteral("zudiruv-fleet: update asks for confirmation on a terminal; without one it needs --yes\n"));
            return 2;
        }
        m_update = new FleetUpdate(m_options, m_engine, this);
        QString error;
        if (!m_update->prepareImages(&error)) {
            printError(QStringLiteral("zudiruv-fleet: %1\n").arg(error));
            return 2;
        }
        connect(m_update, &FleetUpdate::finished, this, [this](int exitCode) {
            for (const FleetReport::Entry &entry : m_update->entries())
                m_report.add(entry);
            if (!m_update->stopReason().isEmpty())
                m_report.setStopped(m_update->stopReason());
            finish(m_interrupted ? 1 : exitCode);
        });
    }

    auto *watch = new InterruptWatch(this);
    connect(watch, &InterruptWatch::interrupted, this, &FleetRun::interrupt);

    const LocatedTool arpTool = locateTool(QStringLiteral("arpping.exe"));
    if (arpTool.path.isEmpty())
        printError(QStringLiteral("zudiruv-fleet: %1; MAC addresses stay unknown\n").arg(arpTool.error));

    m_scanner = new DeviceScanner(m_engine, &m_passwords, arpTool.path, devicesInFlightLimit(scanInFlightWanted), this);
    connect(m_scanner, &DeviceScanner::finished, this, &FleetRun::scanFinished);
    if (errorIsTerminal()) {
        // Both stages count: an address is done once the sweep found it
        // empty or its probe has ended.
        connect(m_scanner, &DeviceScanner::addressDone, this, [this](int done, int total) {
            if (done < total && m_progressClock.isValid() && m_progressClock.elapsed() < progressIntervalMs)
                return;
            m_progressClock.start();
            printError(QStringLiteral("\rScanned %1 of %2 addresses\033[K").arg(done).arg(total));
        });
    }
    m_addressCount = targets.addresses().size();
    m_report.markStarted();
    m_clock.start();
    printError(QStringLiteral("Scanning %1 address%2...\n").arg(m_addressCount).arg(QLatin1String(m_addressCount == 1 ? "" : "es")));
    m_scanner->start(targets.addresses());
    return -1;
}

void FleetRun::interrupt()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_report.setStopped(QStringLiteral("interrupted"));
    printError(QStringLiteral("\nInterrupted: no further device is started; waiting for those in flight.\n"));
    m_scanner->stop();
    if (m_update)
        m_update->stop();
}

void FleetRun::scanFinished()
{
    if (m_progressClock.isValid())
        printError(QStringLiteral("\r\033[K"));
    listFindings();
    if (m_options.command == FleetOptions::Command::Scan) {
        addScanEntries(FleetResult::Found, QString());
        finish(m_interrupted ? 1 : 0);
        return;
    }
    if (m_interrupted) {
        addScanEntries(FleetResult::Skipped, QStringLiteral("interrupted before it was started"));
        finish(1);
        return;
    }
    m_update->start(m_scanner->findings());
}

void FleetRun::listFindings()
{
    const QVector<DeviceFinding> findings = m_scanner->findings();
    if (!findings.isEmpty()) {
        QString table = QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                            .arg(QStringLiteral("ADDRESS"), -15).arg(QStringLiteral("KIND"), -11)
                            .arg(QStringLiteral("GEN"), -3).arg(QStringLiteral("MAC"), -17)
                            .arg(QStringLiteral("LETTER"), -6).arg(QStringLiteral("PASSWORD"));
        for (const DeviceFinding &finding : findings) {
            table += QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                         .arg(formatIpv4(finding.address), -15).arg(orDash(finding.kindName), -11)
                         .arg(orDash(finding.generation), -3).arg(orDash(finding.mac), -17)
                         .arg(orDash(finding.letter), -6).arg(passwordState(finding));
        }
        printOut(table);
    }
    const int velquor = findings.size();
    const int scanned = m_scanner->addressesDone();
    printOut(QStringLiteral("Scanned %1 of %2 addresses in %3 s: %4 Velquor device%5, %6 other web server%7, %8 without answer.\n")
                 .arg(scanned).arg(m_addressCount).arg(m_clock.elapsed() / 1000.0, 0, 'f', 1)
                 .arg(velquor).arg(QLatin1String(velquor == 1 ? "" : "s"))
                 .arg(m_scanner->otherServers()).arg(QLatin1String(m_scanner->otherServers() == 1 ? "" : "s"))
                 .arg(m_scanner->silent()));
}

void FleetRun::addScanEntries(FleetResult result, const QString &error)
{
    for (const DeviceFinding &finding : m_scanner->findings()) {
        FleetReport::Entry entry;
        entry.device = finding;
        entry.result = finding.state == DeviceFinding::State::WantsPassword ? FleetResult::WantsPassword
                     : finding.state == DeviceFinding::State::KindUnknown   ? FleetResult::KindUnknown
                                                                            : result;
        if (entry.result == result)
            entry.error = error;
        m_report.add(entry);
    }
}

void FleetRun::finish(int exitCode)
{
    m_report.markFinished();
    if (m_options.json)
        printForMachine(m_report.toJson());
    if (!m_options.reportFile.isEmpty()) {
        QString error;
        if (!m_report.write(m_options.reportFile, &error)) {
            printError(QStringLiteral("zudiruv-fleet: %1\n").arg(error));
            exitCode = 1;
        }
    }
    QTimer::singleShot(0, this, [this, exitCode] { emit done(exitCode); });
}
