#include "files/Deadline.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace files {

namespace {

struct Rendezvous {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    QEventLoop *waiting = nullptr;   // the caller's loop while it waits; null once it stopped waiting
};

} // namespace

bool runDetached(std::function<void()> work, int timeoutMs)
{
    auto r = std::make_shared<Rendezvous>();
    QCoreApplication *app = QCoreApplication::instance();
    const bool pumpEvents = app && QThread::currentThread() == app->thread();
    QEventLoop loop;
    if (pumpEvents)
        r->waiting = &loop;

    try {
        std::thread([r, work = std::move(work)] {
            try {
                work();
            } catch (...) {
            }
            std::lock_guard lock(r->mutex);
            r->done = true;
            r->ended.notify_all();
            // Under the lock the caller cannot have left its loop behind.
            if (r->waiting)
                QMetaObject::invokeMethod(r->waiting, &QEventLoop::quit, Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &) {
        return false;
    }

    std::unique_lock lock(r->mutex);
    if (pumpEvents) {
        if (!r->done) {
            lock.unlock();
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(timeoutMs);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            lock.lock();
        }
    } else {
        r->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&r] { return r->done; });
    }
    r->waiting = nullptr;
    return r->done;
}

} // namespace files
