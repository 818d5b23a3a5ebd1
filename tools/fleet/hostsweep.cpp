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
// Kept free in the neighbour table for everything else this host talks to.
int tableReserve(int limit)
{
    return std::max(16, limit / 8);
}
// An address held back by a full table or a lack of buffers gets this many
// tries before it goes to the probe unswept, never counted empty.
constexpr int mostTries = 3;
// A table that others keep full stops holding connects back after this.
constexpr qint64 longestWaitForRoomMs = 60000;

qint64 nowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

bool forWantOfResources(int error)
{
    return error == ENOBUFS || error == ENOMEM || error == EAGAIN || error == EMFILE || error == ENFILE;
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
    for (const quint32 address : addresses)
        m_waiting.push_back({address, 0});
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_epoll, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &HostSweep::takeEvents);
    }
    m_clock.start();
    readTable();
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

void HostSweep::readTable()
{
    m_table.refresh();
    const int budget = m_table.limit() - tableReserve(m_table.limit());
    m_tableRoom = budget - m_table.held();
    if (m_tableRoom <= 0)
        m_tableFullAt = nowMs();
}

bool HostSweep::tryAgainLater(const Target &target)
{
    if (target.tries + 1 >= mostTries)
        return false;
    m_waiting.push_back({target.address, target.tries + 1});
    return true;
}

void HostSweep::launchMore()
{
    while (!m_stopping && !m_waiting.empty() && int(m_inFlight.size()) < m_inFlightLimit) {
        // A connect on the link takes its table entry at once; one to a
        // routed address takes none, so the next reading shows the room
        // again.
        if (m_tableRoom <= 0) {
            if (m_roomLackingSince < 0)
                m_roomLackingSince = nowMs();
            if (nowMs() - m_roomLackingSince < longestWaitForRoomMs)
                return;
        } else {
            m_roomLackingSince = -1;
        }
        const Target target = m_waiting.front();
        m_waiting.pop_front();
        const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0 || m_epoll < 0) {
            const bool retry = socket < 0 && forWantOfResources(errno) && tryAgainLater(target);
            if (socket >= 0)
                ::close(socket);
            if (retry)
                return;
            // The address goes to the probe unswept rather than being
            // called empty.
            emit addressAccepted(target.address);
            continue;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        to.sin_addr.s_addr = htonl(target.address);
        const int result = ::connect(socket, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        const int failure = errno;
        if (result != 0 && failure != EINPROGRESS) {
            ::close(socket);
            if (forWantOfResources(failure)) {
                if (tryAgainLater(target))
                    return;
                emit addressAccepted(target.address);
            } else {
                emit addressRefused(target.address);
            }
            continue;
        }
        --m_tableRoom;
        epoll_event interest{};
        interest.events = EPOLLOUT;
        interest.data.fd = socket;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, socket, &interest);
        m_inFlight.push_back({socket, target, nowMs(), nowMs() + m_waitMs});
        if (result == 0)
            end(socket, true);
    }
}

void HostSweep::takeEvents()
{
    epoll_event events[eventsPerRead];
    const int count = ::epoll_wait(m_epoll, events, eventsPerRead, 0);
    for (int i = 0; i < count; ++i) {
        const int socket = events[i].data.fd;
        int failure = 0;
        socklen_t length = sizeof failure;
        ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &failure, &length);
        const auto at = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                     [socket](const Attempt &attempt) { return attempt.socket == socket; });
        if (at != m_inFlight.end() && forWantOfResources(failure))
            notYetTried(at);
        else
            end(socket, failure == 0);
    }
    launchMore();
    finishIfDone();
}

void HostSweep::expire()
{
    readTable();
    const qint64 now = nowMs();
    while (!m_inFlight.empty() && m_inFlight.front().deadline <= now) {
        const Attempt &attempt = m_inFlight.front();
        // The table was full while it waited and holds no entry for it: its
        // SYN never left. Once out of tries it goes to the probe unswept.
        if (m_tableFullAt >= attempt.started && !m_table.has(attempt.target.address))
            notYetTried(m_inFlight.begin());
        else
            end(attempt.socket, false);
    }
    launchMore();
    finishIfDone();
}

void HostSweep::notYetTried(std::deque<Attempt>::iterator at)
{
    const Target target = at->target;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, at->socket, nullptr);
    ::close(at->socket);
    m_inFlight.erase(at);
    if (!tryAgainLater(target))
        emit addressAccepted(target.address);
}

void HostSweep::end(int socket, bool accepted)
{
    const auto at = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                 [socket](const Attempt &attempt) { return attempt.socket == socket; });
    if (at == m_inFlight.end())
        return;
    const quint32 address = at->target.address;
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
    if (m_finished || !m_inFlight.empty() || (!m_stopping && !m_waiting.empty()))
        return;
    m_finished = true;
    m_clock.stop();
    emit finished();
}
