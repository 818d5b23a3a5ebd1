#include "hostsweep.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int tickMs = 20;
constexpr int eventsPerRead = 256;

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

HostSweep::HostSweep(int inFlightLimit, int waitMs, quint16 port, QObject *parent)
    : QObject(parent)
    , m_inFlightLimit(std::max(1, inFlightLimit))
    , m_waitMs(waitMs)
    , m_port(port)
{
    m_clock.setInterval(tickMs);
    connect(&m_clock, &QTimer::timeout, this, &HostSweep::expire);
}

HostSweep::~HostSweep()
{
    for (const Attempt &attempt : m_inFlight)
        ::close(attempt.socket);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

void HostSweep::start(const QVector<quint32> &addresses)
{
    m_addresses = addresses;
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_epoll, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &HostSweep::takeEvents);
    }
    m_clock.start();
    launchMore();
    QTimer::singleShot(0, this, &HostSweep::finishIfDone);
}

void HostSweep::stop()
{
    m_stopping = true;
    while (!m_inFlight.empty())
        end(m_inFlight.front().socket, false);
    finishIfDone();
}

void HostSweep::launchMore()
{
    while (!m_stopping && m_next < m_addresses.size() && int(m_inFlight.size()) < m_inFlightLimit) {
        const quint32 address = m_addresses.at(m_next++);
        const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0 || m_epoll < 0) {
            if (socket >= 0)
                ::close(socket);
            // Out of descriptors for now: the address goes to the probe
            // unswept rather than being called empty.
            emit addressAccepted(address);
            continue;
        }
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(m_port);
        target.sin_addr.s_addr = htonl(address);
        const int result = ::connect(socket, reinterpret_cast<const sockaddr *>(&target), sizeof target);
        if (result != 0 && errno != EINPROGRESS) {
            ::close(socket);
            emit addressRefused(address);
            continue;
        }
        epoll_event interest{};
        interest.events = EPOLLOUT;
        interest.data.fd = socket;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &interest);
        m_inFlight.push_back({socket, address, nowMs() + m_waitMs});
        if (result == 0)
            end(socket, true);
    }
}

void HostSweep::takeEvents()
{
    epoll_event events[eventsPerRead];
    const int count = ::epoll_wait(m_epoll, events, eventsPerRead, 0);
    for (int i = 0; i < count; ++i) {
        int failure = 0;
        socklen_t length = sizeof failure;
        ::getsockopt(events[i].data.fd, SOL_SOCKET, SO_ERROR, &failure, &length);
        end(events[i].data.fd, failure == 0);
    }
    launchMore();
    finishIfDone();
}

void HostSweep::expire()
{
    const qint64 now = nowMs();
    while (!m_inFlight.empty() && m_inFlight.front().deadline <= now)
        end(m_inFlight.front().socket, false);
    launchMore();
    finishIfDone();
}

void HostSweep::end(int socket, bool accepted)
{
    const auto at = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                 [socket](const Attempt &attempt) { return attempt.socket == socket; });
    if (at == m_inFlight.end())
        return;
    const quint32 address = at->address;
    m_inFlight.erase(at);
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, socket, nullptr);
    ::close(socket);
    if (accepted)
        emit addressAccepted(address);
    else
        emit addressRefused(address);
}

void HostSweep::finishIfDone()
{
    if (m_finished || !m_inFlight.empty() || (!m_stopping && m_next < m_addresses.size()))
        return;
    m_finished = true;
    m_clock.stop();
    emit finished();
}
