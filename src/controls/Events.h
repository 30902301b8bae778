#pragma once
// Lets the window system run pending repaints and timers before the caller
// goes on. Handlers call it where the stage must be repainted before it is
// captured or a frame is shown. The user's own input (clicks, keys, the
// wheel) stays queued until the handler has finished: a click that came in
// while a slide was being stored must not move the stage before that slide
// is taken, or two clicks would land in one slide.

#include <QCoreApplication>

#include <functional>

namespace controls {

inline void doEvents()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Waits up to `ms` for `done`, looked at every few milliseconds, with repaints and timers running and the
// user's input held back: work that ends quickly is over before any progress window could be seen.
// Returns `done()` as it stands at the end.
bool waitWithoutInput(const std::function<bool()> &done, int ms);

} // namespace controls
