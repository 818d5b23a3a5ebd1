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

        // Whole percent acknowledged, below 100 however many bytes: an image
        // that is a multiple of 512 bytes ends with an empty block, so 100
        // comes only with the flashed outcome.
        int percent() const
        {
            const std::size_t whole = imageSize == 0 ? 0 : bytesAcknowledged * 100 / imageSize;
            return static_cast<int>(whole < 99 ? whole : 99);
        }
    };

    struct Outcome
    {
        bool flashed = false;
        std::string error;
        // Every block went out but the last one's acknowledgement never
        // came: the device may well hold the whole image.
        bool unconfirmed = false;
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
