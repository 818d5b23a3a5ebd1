#include "devicescanner.h"

#include "consoleoutput.h"
#include "deviceconversation.h"
#include "hostsweep.h"
#include "ipv4text.h"
#include "linksweep.h"
#include "macaddresstext.h"
#include "openfilebudget.h"
#include "passwordbook.h"
#include "toollocator.h"

#include "device/arp.h"

#include <QTimer>

#include <algorithm>

namespace {

// How long the sweep waits for a connection. A device on the link answers
// within milliseconds; an empty address would hold the kernel's ARP wait of
// 3 s, or longer behind a router.
constexpr int sweepWaitMs = 1500;

} // namespace

struct DeviceScanner::Job
{
    quint32 address = 0;
    std::unique_ptr<DeviceConversation> conversation;
    std::unique_ptr<Arp> arp;
    bool reusable = false;
    bool probed = false;
    bool macDone = false;
    DeviceFinding finding;
    QString mac;
};

DeviceScanner::DeviceScanner(ProbeEngine *engine, const PasswordBook *passwords, const QString &arpTool,
                             int inFlightLimit, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_passwords(passwords)
    , m_arpTool(arpTool)
    , m_inFlightLimit(std::max(1, inFlightLimit))
{
}

DeviceScanner::~DeviceScanner() = default;

void DeviceScanner::start(const QVector<quint32> &addresses)
{
    m_total = addresses.size();
    m_targets = addresses;
    m_linkSweep = std::make_unique<LinkSweep>(m_arpTool);
    connect(m_linkSweep.get(), &LinkSweep::finished, this, &DeviceScanner::linkSwept);
    m_linkSweep->start(addresses);
}

void DeviceScanner::linkSwept()
{
    if (m_stopping) {
        m_sweepDone = true;
        QTimer::singleShot(0, this, &DeviceScanner::finishOnce);
        return;
    }
    for (const QString &note : m_linkSweep->notes())
        printError(QStringLiteral("zudiruv-fleet: %1\n").arg(note));
    // An address asked by ARP that did not answer holds no host, and a host
    // whose web port the sweep found closed or silent no web server.
    QVector<quint32> toConnect;
    for (const quint32 address : qAsConst(m_targets)) {
        if (!m_linkSweep->asked(address)) {
            toConnect.append(address);
            continue;
        }
        if (m_linkSweep->macOf(address).isEmpty()) {
            hostMissing();
            continue;
        }
        switch (m_linkSweep->port(address)) {
        case LinkSweep::Port::Open:
            hostFound(address);
            break;
        case LinkSweep::Port::Closed:
        case LinkSweep::Port::Silent:
            hostMissing();
            break;
        case LinkSweep::Port::Unknown:
            toConnect.append(address);
            break;
        }
    }
    m_sweep = std::make_unique<HostSweep>(sweepConnectsLimit(), sweepWaitMs);
    connect(m_sweep.get(), &HostSweep::addressAccepted, this, &DeviceScanner::hostFound);
    connect(m_sweep.get(), &HostSweep::addressRefused, this, &DeviceScanner::hostMissing);
    connect(m_sweep.get(), &HostSweep::finished, this, [this] {
        m_sweepDone = true;
        if (m_jobs.empty() && (m_stopping || m_next >= m_addresses.size()))
            finishOnce();
    });
    m_sweep->start(toConnect);
}

void DeviceScanner::stop()
{
    if (m_stopping || m_finished)
        return;
    m_stopping = true;
    if (m_linkSweep)
        m_linkSweep->stop();
    if (m_sweep) {
        // What was still being connected to was not scanned.
        disconnect(m_sweep.get(), &HostSweep::addressRefused, this, &DeviceScanner::hostMissing);
        m_sweep->stop();
    }
    if (m_jobs.empty() && m_sweepDone)
        QTimer::singleShot(0, this, &DeviceScanner::finishOnce);
}

void DeviceScanner::hostFound(quint32 address)
{
    m_addresses.append(address);
    launchMore();
}

void DeviceScanner::hostMissing()
{
    ++m_silent;
    ++m_done;
    emit addressDone(m_done, m_total);
}

QVector<DeviceFinding> DeviceScanner::findings() const
{
    QVector<DeviceFinding> sorted = m_findings;
    std::sort(sorted.begin(), sorted.end(),
              [](const DeviceFinding &a, const DeviceFinding &b) { return a.address < b.address; });
    return sorted;
}

void DeviceScanner::launchMore()
{
    while (!m_stopping && m_next < m_addresses.size() && int(m_jobs.size()) < m_inFlightLimit)
        launch(m_addresses.at(m_next++));
}

void DeviceScanner::launch(quint32 address)
{
    auto job = std::make_unique<Job>();
    Job *raw = job.get();
    raw->address = address;
    if (m_idle.empty()) {
        raw->conversation = std::make_unique<DeviceConversation>(m_engine, address, DeviceConversation::probeWindowMs);
    } else {
        raw->conversation = std::move(m_idle.back());
        m_idle.pop_back();
        raw->conversation->setAddress(address);
    }
    m_jobs.push_back(std::move(job));
    connect(raw->conversation.get(), &DeviceConversation::indexChecked, this,
            [this, raw](int status, bool velquor) { indexChecked(raw, status, velquor); });
    connect(raw->conversation.get(), &DeviceConversation::probed, this,
            [this, raw](const DeviceFinding &finding) {
                raw->finding = finding;
                raw->probed = true;
                finishIfComplete(raw);
            });
    if (!raw->conversation->isValid()) {
        ++m_silent;
        QTimer::singleShot(0, this, [this, raw] { endJob(raw); });
        return;
    }
    raw->conversation->checkIndex();
}

void DeviceScanner::indexChecked(Job *job, int status, bool velquor)
{
    if (!velquor) {
        // Status 0: refused or unreachable, so nothing of it is left open.
        job->reusable = status == 0;
        if (status <= 0)
            ++m_silent;
        else
            ++m_otherServers;
        endJob(job);
        return;
    }
    // Only now, with a Velquor title seen, does the password leave.
    job->conversation->probe(m_passwords->passwordFor(job->address));
    lookUpMac(job);
}

void DeviceScanner::lookUpMac(Job *job)
{
    job->mac = m_linkSweep->macOf(job->address);
    if (m_arpTool.isEmpty() || !job->mac.isEmpty()) {
        job->macDone = true;
        return;
    }
    job->arp = std::make_unique<Arp>();
    Arp *arp = job->arp.get();
    arp->setProgram(m_arpTool);
    arp->setProcessEnvironment(toolEnvironment());
    connect(arp, &Arp::received, this, [job](const QString &mac) {
        if (job->mac.isEmpty() && isMacAddressText(mac.trimmed()))
            job->mac = mac.trimmed().toUpper();
    });
    auto done = [this, job] {
        if (job->macDone)
            return;
        job->macDone = true;
        finishIfComplete(job);
    };
    connect(arp, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, done);
    connect(arp, &QProcess::errorOccurred, this, [done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done();
    });
    arp->getMac(formatIpv4(job->address));
}

void DeviceScanner::finishIfComplete(Job *job)
{
    if (!job->probed || !job->macDone)
        return;
    DeviceFinding &finding = job->finding;
    if (!finding.velquor) {
        // Its title went away between the two questions.
        ++m_silent;
    } else {
        finding.mac = job->mac;
        finding.givenPassword = m_passwords->sourceFor(job->address) == PasswordBook::Source::Given;
        finding.password = m_passwords->passwordFor(job->address);
        m_findings.append(finding);
    }
    endJob(job);
}

void DeviceScanner::endJob(Job *job)
{
    const auto at = std::find_if(m_jobs.begin(), m_jobs.end(),
                                 [job](const std::unique_ptr<Job> &held) { return held.get() == job; });
    if (at == m_jobs.end())
        return;
    // Not from inside the conversation's or the lookup's own signal.
    Job *ending = at->release();
    m_jobs.erase(at);
    if (ending->reusable) {
        ending->conversation->disconnect(this);
        m_idle.push_back(std::move(ending->conversation));
    }
    QTimer::singleShot(0, this, [ending] { delete ending; });
    ++m_done;
    emit addressDone(m_done, m_total);
    launchMore();
    if (m_jobs.empty() && m_sweepDone && (m_stopping || m_next >= m_addresses.size()))
        finishOnce();
}

void DeviceScanner::finishOnce()
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished();
}
