#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

class OptionTable;

// A poor link between the simulated device and the flasher, in each
// direction on its own: packets lost, duplicated and delayed (by a fixed time
// plus or minus a jitter, so that they may overtake each other), drawn from a
// seeded generator so that a test or a benchmark sees the same link every run.
class LinkImpairment
{
public:
    using Duration = std::chrono::steady_clock::duration;
    enum class Direction { ToDevice, FromDevice };

    struct Path
    {
        int lossPercent = 0;
        int duplicatePercent = 0;
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds jitter{0};

        bool isClean() const { return lossPercent == 0 && duplicatePercent == 0 && delay.count() == 0 && jitter.count() == 0; }
    };

    struct Settings
    {
        Path toDevice;
        Path fromDevice;
        long long seed = 1;

        bool isClean() const { return toDevice.isClean() && fromDevice.isClean(); }
    };

    explicit LinkImpairment(const Settings &settings);
    bool isClean() const { return m_settings.isClean(); }

    // After how long each copy of a packet arrives: none when it is lost,
    // two when it is duplicated.
    std::vector<Duration> fate(Direction direction);

    // The options that set `settings`, each name after `prefix` ("--" or
    // "--boot-").
    static void addOptions(OptionTable &options, const std::string &prefix, Settings *settings);

private:
    Duration delayOf(const Path &path);

    Settings m_settings;
    std::mt19937_64 m_random;
};
