#include "sound/PcmCache.h"

#include <QHash>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace sound {

struct PcmCache::State {
    struct Entry {
        std::shared_ptr<const Decoded> decoded; // null while decoding
        qint64 asked = 0;                       // the frame limit it is decoded to
        quint64 used = 0;                       // when it was last asked for, in asks
    };
    std::mutex mutex;
    std::condition_variable done;
    QHash<QByteArray, Entry> entries;
    qint64 held = 0;
    qint64 maxBytes;
    quint64 clock = 0;
    int running = 0;
    std::atomic<bool> stop{false};

    static qint64 bytesOf(const Decoded &d) { return qint64(d.pcm.samples.size()) * 2; }

    // Drops the sounds used least recently until what is kept fits, never `keep`. Under the lock.
    void trim(const QByteArray &keep)
    {
        while (held > maxBytes) {
            auto oldest = entries.end();
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it.key() != keep && it->decoded && (oldest == entries.end() || it->used < oldest->used))
                    oldest = it;
            if (oldest == entries.end())
                return;
            held -= bytesOf(*oldest->decoded);
            entries.erase(oldest);
        }
    }
};

PcmCache::PcmCache(qint64 maxBytes) : m_state(std::make_shared<State>())
{
    m_state->maxBytes = maxBytes;
}

PcmCache::~PcmCache()
{
    m_state->stop = true;
    std::unique_lock lock(m_state->mutex);
    m_state->done.wait(lock, [this] { return m_state->running == 0; });
}

std::shared_ptr<const Decoded> PcmCache::get(const QByteArray &key, const QByteArray &bytes, const QString &name,
                                             qint64 maxFrames)
{
    std::lock_guard lock(m_state->mutex);
    State::Entry &e = m_state->entries[key];
    e.used = ++m_state->clock;
    // Kept, unless it was cut shorter than now asked for.
    if (e.decoded && !(e.decoded->cut && e.asked < maxFrames))
        return e.decoded;
    if (e.asked >= maxFrames && !e.decoded)
        return nullptr; // under way
    if (e.decoded) {
        m_state->held -= State::bytesOf(*e.decoded);
        e.decoded.reset();
    }
    e.asked = maxFrames;
    ++m_state->running;
    QThreadPool::globalInstance()->start([state = m_state, key, bytes, name, maxFrames] {
        auto decoded = std::make_shared<const Decoded>(decode(bytes, name, maxFrames, &state->stop));
        std::lock_guard lock(state->mutex);
        const auto it = state->entries.find(key);
        if (it != state->entries.end() && it->asked == maxFrames && !it->decoded) {
            it->decoded = decoded;
            state->held += State::bytesOf(*decoded);
            state->trim(key);
        }
        --state->running;
        state->done.notify_all();
    });
    return nullptr;
}

std::shared_ptr<const Decoded> PcmCache::wait(const QByteArray &key, const QByteArray &bytes, const QString &name,
                                              qint64 maxFrames)
{
    for (;;) {
        if (auto d = get(key, bytes, name, maxFrames))
            return d;
        std::unique_lock lock(m_state->mutex);
        m_state->done.wait(lock, [&] {
            const auto it = m_state->entries.constFind(key);
            return it == m_state->entries.constEnd() || it->decoded || it->asked != maxFrames;
        });
    }
}

qint64 PcmCache::heldBytes() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->held;
}

} // namespace sound
