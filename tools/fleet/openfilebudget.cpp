#include "openfilebudget.h"

#include <sys/resource.h>

#include <algorithm>

namespace {

constexpr int descriptorsPerDevice = 12;
// Standard streams, the engine's own pipes and sockets, eflash.exe's pipes,
// the report file.
constexpr int descriptorsKeptBack = 64;

} // namespace

int devicesInFlightLimit(int wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::max(1, wanted);
    const long available = long(limit.rlim_cur) - descriptorsKeptBack;
    return int(std::clamp<long>(available / descriptorsPerDevice, 1, std::max(1, wanted)));
}
