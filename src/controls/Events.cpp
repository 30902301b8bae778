#include "controls/Events.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace controls {

bool waitWithoutInput(const std::function<bool()> &done, int ms)
{
    if (ms <= 0 || done())
        return done();
    QElapsedTimer waited;
    waited.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || waited.elapsed() >= ms)
            loop.quit();
    });
    tick.start(5);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}

} // namespace controls
