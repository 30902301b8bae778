#include "preview/Playback.h"

#include <algorithm>

namespace preview {

int pauseForRate(int rate)
{
    switch (rate) {
    case 1:
        return 1000;
    case 4:
        return 250;
    case 8:
        return 125;
    case 12:
        return 83;
    case 16:
        return 62;
    case 20:
        return 50;
    case 24:
        return 42;
    default:
        return 0;
    }
}

void FrameSchedule::start(qint64 nowMs)
{
    m_due = nowMs;
}

qint64 FrameSchedule::waitAfterSlide(qint64 nowMs, int pauseMs)
{
    pauseMs = std::max(0, pauseMs);
    if (nowMs - m_due > pauseMs)
        m_due = nowMs;
    m_due += pauseMs;
    return std::max<qint64>(0, m_due - nowMs);
}

} // namespace preview
