#include "retransmissiontimer.h"

#include <algorithm>

void RetransmissionTimer::backOff()
{
    m_resent = true;
    m_timeout = std::min<Microseconds>(2 * m_timeout, maximum);
}

void RetransmissionTimer::acknowledged(Clock::duration elapsed)
{
    // Karn: nobody knows which copy this answers; keep the backed-off value.
    if (m_resent) {
        m_resent = false;
        return;
    }
    takeSample(std::chrono::duration_cast<Microseconds>(elapsed));
}

void RetransmissionTimer::takeSample(Microseconds sample)
{
    if (!m_smoothed) {
        m_smoothed = sample;
        m_variation = sample / 2;
    } else {
        // The variation is measured against the old smoothed value.
        const Microseconds deviation = *m_smoothed > sample ? *m_smoothed - sample : sample - *m_smoothed;
        m_variation = (3 * m_variation + deviation) / 4;
        m_smoothed = (7 * *m_smoothed + sample) / 8;
    }
    const Microseconds timeout = *m_smoothed + std::max<Microseconds>(granularity, 4 * m_variation);
    m_timeout = std::clamp<Microseconds>(timeout, minimum, maximum);
}
