#include "neighbourprobe.h"

#include <thread>

namespace {
constexpr std::chrono::milliseconds promptInterval{1000};
constexpr std::chrono::milliseconds pollInterval{20};
}

NeighbourProbe::NeighbourProbe(const LinkRoute &route)
    : m_route(route)
{
}

std::optional<MacAddress> NeighbourProbe::resolve(in_addr target, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    auto nextPrompt = Clock::now();
    while (Clock::now() < end) {
        if (Clock::now() >= nextPrompt) {
            prompt(target);
            nextPrompt = Clock::now() + promptInterval;
        }
        if (auto mac = lookUp(target))
            return mac;
        std::this_thread::sleep_for(pollInterval);
    }
    return lookUp(target);
}
