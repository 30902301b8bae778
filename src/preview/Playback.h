#pragma once
// The timing of the preview's playback, apart from the window so that tests
// can feed it any clock they like.

#include <QtGlobal>

namespace preview {

// Pause after each slide, in milliseconds, for a rate chosen with the
// spin control. The table is 1000 / rate rounded down (62.5 gives 62) for
// the rates the spin control reaches from its start value; every other
// rate makes no pause at all, so its slides change as fast as they are drawn.
int pauseForRate(int rate);

// Due times of the slides on a monotonic clock, in milliseconds. A slide's
// pause ends one pause after the previous slide's pause ended, not one pause
// after it was drawn, so drawing time does not slow the rate down.
class FrameSchedule {
public:
    // The first slide is due now.
    void start(qint64 nowMs);
    // The slide that was due has just been shown: how long to wait before
    // the next one. Showing it late by up to a whole pause is made up by
    // this slide's pause; later than that (a stalled window) counts afresh
    // from now instead of rushing through the missed slides.
    qint64 waitAfterSlide(qint64 nowMs, int pauseMs);
    qint64 due() const { return m_due; }

private:
    qint64 m_due = 0;
};

} // namespace preview
