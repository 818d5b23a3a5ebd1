#pragma once

#include <cstddef>
#include <string>

// Where a flash run reports, device by device. Devices are numbered in the
// order they were handed to the flasher. All calls come from the thread
// that runs the flasher.
class FlashObserver
{
public:
    struct Progress
    {
        std::size_t bytesAcknowledged = 0;
        std::size_t imageSize = 0;
        int retransmissions = 0;
    };

    struct Outcome
    {
        bool flashed = false;
        std::string error;
        double seconds = 0;
        std::size_t bytes = 0;
        int retransmissions = 0;
    };

    virtual ~FlashObserver() = default;

    // What happens on the way, for a person to read.
    virtual void note(std::size_t device, const std::string &text) = 0;
    virtual void progress(std::size_t device, const Progress &progress) = 0;
    // Once per device, last.
    virtual void finished(std::size_t device, const Outcome &outcome) = 0;
};
