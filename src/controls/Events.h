#pragma once
// Lets the window system handle every pending event (repaints, clicks,
// timer ticks) before the caller goes on. Handlers call it where the stage
// must be repainted before it is captured or a frame is shown; any other
// handler may run to completion at that point.

#include <QCoreApplication>

namespace controls {

inline void doEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace controls
