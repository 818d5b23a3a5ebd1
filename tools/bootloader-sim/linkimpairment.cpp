#include "linkimpairment.h"

#include "optiontable.h"

LinkImpairment::LinkImpairment(const Settings &settings)
    : m_settings(settings)
    , m_random(static_cast<std::uint64_t>(settings.seed))
{
}

std::vector<LinkImpairment::Duration> LinkImpairment::fate(Direction direction)
{
    const Path &path = direction == Direction::ToDevice ? m_settings.toDevice : m_settings.fromDevice;
    std::uniform_int_distribution<int> percent(0, 99);
    std::vector<Duration> copies;
    if (percent(m_random) < path.lossPercent)
        return copies;
    copies.push_back(delayOf(path));
    if (percent(m_random) < path.duplicatePercent)
        copies.push_back(delayOf(path));
    return copies;
}

LinkImpairment::Duration LinkImpairment::delayOf(const Path &path)
{
    if (path.jitter.count() == 0)
        return path.delay;
    using Micro = std::chrono::microseconds;
    const long long jitter = std::chrono::duration_cast<Micro>(path.jitter).count();
    std::uniform_int_distribution<long long> spread(-jitter, jitter);
    const Micro delay = std::chrono::duration_cast<Micro>(path.delay) + Micro(spread(m_random));
    return delay.count() > 0 ? Duration(delay) : Duration::zero();
}

void LinkImpairment::addOptions(OptionTable &options, const std::string &prefix, Settings *settings)
{
    constexpr long long minute = 60000;
    const struct
    {
        const char *name;
        const char *what;
        Path *path;
    } directions[] = {{"in", "to the device", &settings->toDevice}, {"out", "from the device", &settings->fromDevice}};
    for (const auto &direction : directions) {
        const std::string suffix = std::string("-") + direction.name;
        const std::string what = direction.what;
        options.number(prefix + "loss" + suffix, "PERCENT", "lose this share of the packets " + what + " (0)",
                       &direction.path->lossPercent, 0, 100)
            .number(prefix + "duplicate" + suffix, "PERCENT", "send this share of the packets " + what + " twice (0)",
                    &direction.path->duplicatePercent, 0, 100)
            .milliseconds(prefix + "delay" + suffix + "-ms", "MS", "delay the packets " + what + " by MS (0) ...",
                          &direction.path->delay, 0, minute)
            .milliseconds(prefix + "jitter" + suffix + "-ms", "MS", "... plus or minus up to MS, so they may\novertake each other (0)",
                          &direction.path->jitter, 0, minute);
    }
    options.number(prefix + "link-seed", "N", "seed of the losses, copies and delays above (1)",
                   &settings->seed, 0, (1ll << 62));
}
