#include "openfilebudget.h"

#include <QFile>

#include <sys/resource.h>

#include <algorithm>

namespace {

constexpr int descriptorsPerDevice = 12;
// Standard streams, the engine's own pipes and sockets, eflash.exe's pipes,
// the report file.
constexpr int descriptorsKeptBack = 64;
// Each unanswered connect on the local segment holds an entry in the
// kernel's neighbour table, and failed entries linger; past the table's hard
// limit the kernel drops new resolutions, and live hosts would look empty.
// A quarter of the limit leaves room for the lingering ones.
int mostConnectsAtOnce()
{
    QFile limit(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
    int entries = 1024;
    if (limit.open(QIODevice::ReadOnly))
        entries = std::max(16, limit.readAll().trimmed().toInt());
    return std::min(1000, entries / 4);
}
constexpr rlim_t mostUsefulDescriptors = 4096;

long softLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    return limit.rlim_cur == RLIM_INFINITY ? mostUsefulDescriptors : long(limit.rlim_cur);
}

} // namespace

int devicesInFlightLimit(int wanted)
{
    const long available = softLimit() - descriptorsKeptBack;
    return int(std::clamp<long>(available / descriptorsPerDevice, 1, std::max(1, wanted)));
}

int sweepConnectsLimit()
{
    // Half of what is left: the probes of the first hosts found start while
    // the sweep still runs on others.
    const long available = (softLimit() - descriptorsKeptBack) / 2;
    return int(std::clamp<long>(available, 1, mostConnectsAtOnce()));
}

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= mostUsefulDescriptors)
        return;
    limit.rlim_cur = std::min(limit.rlim_max, mostUsefulDescriptors);
    setrlimit(RLIMIT_NOFILE, &limit);
}
