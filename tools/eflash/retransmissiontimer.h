#pragma once

#include <chrono>
#include <optional>

// How long to wait for the acknowledgement of the block in flight before
// sending it again. Follows the measured round trip as TCP's timer does
// (RFC 6298): smoothed round trip plus four times its variation, doubled on
// every resend. Karn's rule: an acknowledgement after a resend may answer
// either copy, so it gives no sample and the doubled timeout stays until a
// block sent once is acknowledged.
class RetransmissionTimer
{
public:
    using Clock = std::chrono::steady_clock;
    using Microseconds = std::chrono::microseconds;

    // Before the first round trip is measured, and the most a timeout grows to.
    static constexpr std::chrono::milliseconds initial{1000};
    static constexpr std::chrono::milliseconds maximum{1000};
    // The boot loader answers every block at once, on the same link: unlike
    // TCP's 1 s floor (made for delayed ACKs across the Internet), a lost
    // block here should cost milliseconds. A busy host that stalls longer
    // than this now and then sends a spurious copy, which costs one packet
    // and backs the timer off; a higher floor would make every real loss
    // cost it instead. Windows rounds waits up to its 15.6 ms tick, so 20 ms
    // is also about the least it can wait.
    static constexpr std::chrono::milliseconds minimum{20};
    // RFC 6298's clock granularity term: the timeout stays this far above
    // the smoothed round trip even on a link that never varies.
    static constexpr std::chrono::milliseconds granularity{10};

    Microseconds timeout() const { return m_timeout; }
    // The block in flight went out again.
    void backOff();
    // The block in flight was acknowledged `elapsed` after it was last sent.
    void acknowledged(Clock::duration elapsed);

    std::optional<Microseconds> smoothedRoundTrip() const { return m_smoothed; }
    Microseconds roundTripVariation() const { return m_variation; }

private:
    void takeSample(Microseconds sample);

    std::optional<Microseconds> m_smoothed;
    Microseconds m_variation{0};
    Microseconds m_timeout{initial};
    bool m_resent = false;
};
