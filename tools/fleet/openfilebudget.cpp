#include "openfilebudget.h"

#include <sys/resource.h>

#include <algorithm>

namespace {

constexpr int descriptorsPerDevice = 12;
// Standard streams, the engine's own pipes and sockets, eflash.exe's pipes,
// the report file.
constexpr int descriptorsKeptBack = 64;
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
    // the sweep still runs on others. The neighbour table bounds the connects
    // on the local link on its own (see HostSweep); behind a router it holds
    // only the router, and this alone bounds them.
    const long available = (std::min<long>(softLimit(), mostUsefulDescriptors) - descriptorsKeptBack) / 2;
    return int(std::max<long>(available, 1));
}

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= mostUsefulDescriptors)
        return;
    limit.rlim_cur = std::min(limit.rlim_max, mostUsefulDescriptors);
    setrlimit(RLIMIT_NOFILE, &limit);
}
