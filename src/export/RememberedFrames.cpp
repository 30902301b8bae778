#include "export/RememberedFrames.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace exporting {

namespace {

// Frames read before the writer wants them: enough to smooth out a slow
// file, few enough that frames not kept cost little memory.
constexpr int Ahead = 8;

QString noMemory() { return QStringLiteral("Недостаточно памяти"); }

} // namespace

RememberedFrames::RememberedFrames(FrameSource &source, size_t bound) : m_source(source), m_bound(bound)
{
    // Asked here, before the reading thread starts, so that the source is
    // only ever used by one thread at a time.
    const int n = std::max(0, source.count());
    m_durations.reserve(size_t(n));
    for (int i = 1; i <= n; ++i)
        m_durations.push_back(source.duration(i));
    m_frames.resize(size_t(n));
}

RememberedFrames::~RememberedFrames() { stop(); }

int RememberedFrames::duration(int i) const
{
    return i >= 1 && i <= count() ? m_durations[size_t(i - 1)] : 1;
}

int RememberedFrames::kept() const
{
    std::lock_guard lock(m_mutex);
    return m_firstUnkept ? m_firstUnkept - 1 : count();
}

void RememberedFrames::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    if (m_reader.joinable())
        m_reader.join();
    m_stop = false;
}

void RememberedFrames::startFrom(int first)
{
    try {
        m_reader = std::thread([this, first] { readFrom(first); });
    } catch (const std::system_error &) {
        // Without a thread the source is read as the writer asks.
        m_direct = true;
    }
}

void RememberedFrames::readFrom(int first)
{
    Frame frame;
    QString error;
    const auto failed = [&](int i, const QString &why) {
        {
            std::lock_guard lock(m_mutex);
            m_failedAt = i;
            m_failure = why;
        }
        m_readable.notify_all();
    };
    // The frame before the first one read tells the source what the next
    // one is compared with; the writer has it already.
    QSize before;
    if (first > 1) {
        if (!m_source.read(first - 1, frame, error))
            return failed(first, error);
        before = frame.size;
    }
    for (int i = first; i <= count(); ++i) {
        {
            std::unique_lock lock(m_mutex);
            if (i - m_used > Ahead) {
                // Woken once half the frames ahead are used, not for each.
                m_resumeAt = i - Ahead / 2;
                m_room.wait(lock, [&] { return m_stop || m_used >= m_resumeAt; });
                m_resumeAt = 0;
            }
            if (m_stop)
                return;
        }
        if (!m_source.read(i, frame, error))
            return failed(i, error);
        Stored stored;
        stored.size = frame.size;
        stored.changed = frame.changed;
        const QRect whole(QPoint(0, 0), frame.size);
        stored.kept = frame.size == before ? frame.changed & whole : whole;
        before = frame.size;
        const size_t rowBytes = size_t(stored.kept.width()) * 3;
        try {
            stored.bytes.resize(rowBytes * size_t(stored.kept.height()));
        } catch (const std::bad_alloc &) {
            return failed(i, noMemory());
        }
        uchar *out = stored.bytes.data();
        for (int y = stored.kept.top(); y <= stored.kept.bottom(); ++y, out += rowBytes)
            std::memcpy(out, frame.bgr + y * frame.stride + qsizetype(stored.kept.left()) * 3, rowBytes);
        stored.ready = true;
        bool wake;
        {
            std::lock_guard lock(m_mutex);
            if (m_remembering && m_keptBytes + stored.bytes.size() <= m_bound) {
                m_keptBytes += stored.bytes.size();
            } else if (m_remembering) {
                // Past the bound the frames are let go once used; the next
                // pass reads them from the source again.
                m_remembering = false;
                m_firstUnkept = i;
            }
            m_frames[size_t(i - 1)] = std::move(stored);
            wake = m_awaited;
        }
        if (wake)
            m_readable.notify_all();
    }
}

bool RememberedFrames::show(const Stored &stored, Frame &frame, QString &error)
{
    if (stored.size != m_size) {
        try {
            m_rows.resize(size_t(stored.size.width()) * 3 * size_t(stored.size.height()));
        } catch (const std::bad_alloc &) {
            error = noMemory();
            return false;
        }
        m_size = stored.size;
    }
    const qsizetype stride = qsizetype(m_size.width()) * 3;
    const size_t rowBytes = size_t(stored.kept.width()) * 3;
    const uchar *in = stored.bytes.data();
    for (int y = stored.kept.top(); y <= stored.kept.bottom(); ++y, in += rowBytes)
        std::memcpy(m_rows.data() + y * stride + qsizetype(stored.kept.left()) * 3, in, rowBytes);
    frame.bgr = m_rows.data();
    frame.stride = stride;
    frame.size = m_size;
    frame.changed = stored.changed;
    return true;
}

bool RememberedFrames::read(int i, Frame &frame, QString &error)
{
    if (i < 1 || i > count()) {
        error = QStringLiteral("Нет кадра %1").arg(i);
        return false;
    }
    if (!m_direct && i == 1 && !m_started) {
        m_started = true;
        startFrom(1);
    } else if (!m_direct && i == 1) {
        // A pass over again: the frames held come from memory, the rest from
        // the source, read ahead from the first one not held.
        stop();
        int missing = 1;
        while (missing <= count() && m_frames[size_t(missing - 1)].ready &&
               (m_firstUnkept == 0 || missing < m_firstUnkept))
            ++missing;
        for (int j = missing; j <= count(); ++j)
            m_frames[size_t(j - 1)] = Stored();
        m_firstUnkept = missing <= count() ? missing : 0;
        m_remembering = false;
        m_failedAt = 0;
        m_failure.clear();
        m_used = 0;
        if (missing <= count())
            startFrom(missing);
    } else if (!m_direct && i != m_next) {
        // Out of order: nothing read ahead is of use.
        stop();
        m_frames.assign(m_frames.size(), Stored());
        m_direct = true;
        // The source has read ahead of the frame the writer holds: what it
        // says changed is against another frame.
        if (!m_source.read(i, frame, error))
            return false;
        frame.changed = QRect(QPoint(0, 0), frame.size);
        return true;
    }
    if (m_direct)
        return m_source.read(i, frame, error);
    m_next = i + 1;

    Stored *stored = &m_frames[size_t(i - 1)];
    bool held;
    {
        std::unique_lock lock(m_mutex);
        m_awaited = true;
        m_readable.wait(lock, [&] { return stored->ready || (m_failedAt && m_failedAt <= i); });
        m_awaited = false;
        if (!stored->ready) {
            error = m_failure;
            return false;
        }
        held = m_firstUnkept == 0 || i < m_firstUnkept;
    }
    // The reading thread only writes frames after this one while it runs.
    if (!show(*stored, frame, error))
        return false;
    if (!held)
        *stored = Stored();
    bool wake;
    {
        std::lock_guard lock(m_mutex);
        m_used = i;
        wake = m_resumeAt && m_used >= m_resumeAt;
    }
    if (wake)
        m_room.notify_all();
    return true;
}

} // namespace exporting
