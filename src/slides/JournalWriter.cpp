// The journal's writer: records appended on a thread of its own, synced now
// and then, and a new file when the old one's name no longer leads to it.
#include "slides/Journal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "controls/SystemError.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace slides::journal {

namespace {

// Past this much waiting for the disk the journal gives up rather than hold memory without end.
constexpr qint64 MaxQueued = 512ll << 20;
// After writing, the thread waits this long for more before it sleeps until woken: the records of a
// quick run (a held key records 25 slides a second, a test thousands) go out together, and queuing one
// costs no wake-up of the thread. At most this much recording waits in memory.
constexpr auto Linger = std::chrono::milliseconds(20);
// Records framed into the queue go into one buffer up to this size.
constexpr qsizetype GatherBytes = 4 << 20;
constexpr int ErrBacklog = ENOBUFS;

bool writeAll(int fd, const char *p, qsizetype n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(n));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

// Makes `folder` and its missing parents; 0, or the system's error and the path it failed at.
int makeFolder(const QString &folder, QString *failedAt)
{
    // Made step by step, so that the user hears of the step that failed and the system's reason
    // for it: a parent that is a file says "not a folder", not "no right to write".
    const QString clean = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0700) == 0)
            continue;
        int error = errno;
        struct stat st;
        if (error == EEXIST && ::stat(name.constData(), &st) == 0)
            error = S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
        if (error) {
            *failedAt = path;
            return error;
        }
    }
    return 0;
}

} // namespace

struct Writer::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    struct Item {
        QByteArray bytes;
        std::function<bool(QByteArray &)> next; // makes the records itself when set
        bool renew = false;                     // copies the journal to a new file instead
    };
    std::deque<Item> queue;
    bool renewAsked = false;   // a renew item is queued or being done
    bool syncAsked = false;    // a caller waits for the file to reach the disk
    qint64 queued = 0;
    bool writing = false;
    bool stop = false;
    std::atomic<bool> removed{false}; // also read by the thread between records
    int fd = -1;
    QString path;
    QString folder;
    dev_t device = 0; // the file's identity, to tell when its name leads elsewhere
    ino_t inode = 0;
    std::atomic<int> error{0};
    bool asleep = false; // waits to be woken, rather than for the next few records
    QByteArray spare;    // a written buffer, emptied, whose room the next records take

    void own(int file, const QString &name)
    {
        struct stat st {};
        ::fstat(file, &st);
        fd = file;
        path = name;
        device = st.st_dev;
        inode = st.st_ino;
    }
};

namespace {

// A name of this program's own: its process number, the time and a count, so that neither a later
// program with a reused number nor a second journal of this one meets an older file.
QString ownName()
{
    static std::atomic<int> made{0};
    return QStringLiteral("journal-%1-%2-%3.vlj")
        .arg(::getpid())
        .arg(QDateTime::currentMSecsSinceEpoch())
        .arg(made.fetch_add(1));
}

// Copies the first `size` bytes of `from` to the start of `to`, leaving `to`'s offset after them.
bool copyPart(int from, int to, off_t size)
{
    off_t in = 0, out = 0;
    while (in < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size_t(size - in), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            continue;
        if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)) {
            errno = n == 0 ? EIO : errno;
            return false;
        }
        // No copying inside the kernel between these two: through a buffer instead.
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        if (::lseek(to, out, SEEK_SET) != out)
            return false;
        while (in < size) {
            const ssize_t r = ::pread(from, buffer.data(), size_t(std::min<off_t>(buffer.size(), size - in)), in);
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0)
                errno = EIO;
            if (r <= 0 || !writeAll(to, buffer.constData(), r))
                return false;
            in += r;
        }
        return true;
    }
    return ::lseek(to, size, SEEK_SET) == size;
}

// Everything written through `fd` goes into a new journal, locked, under a new name; writing goes on
// there. 0, or the error that stopped it.
int renewFile(Writer::Shared &s, int &fd)
{
    QString folder;
    {
        std::lock_guard lock(s.mutex);
        folder = s.folder;
    }
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + ownName();
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".new"));
    const int to = ::open(temporary.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (to < 0)
        return errno ? errno : EIO;
    const off_t size = ::lseek(fd, 0, SEEK_CUR);
    if (size < 0 || ::flock(to, LOCK_EX | LOCK_NB) != 0 || !copyPart(fd, to, size) ||
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno ? errno : EIO;
        ::close(to);
        ::unlink(temporary.constData());
        return error;
    }
    std::lock_guard lock(s.mutex);
    s.renewAsked = false;
    if (s.removed) {
        ::unlink(QFile::encodeName(path).constData());
        ::close(to);
        return 0;
    }
    ::close(fd);
    s.own(to, path);
    fd = to;
    return 0;
}

void run(std::shared_ptr<Writer::Shared> s)
{
    using Clock = std::chrono::steady_clock;
    // A power cut loses at most this much: the page cache has everything else sooner.
    constexpr auto SyncEvery = std::chrono::milliseconds(500);
    auto lastSync = Clock::now();
    bool dirty = false;
    bool lingered = true;
    std::unique_lock lock(s->mutex);
    // The disk is waited for without holding the lock, so that records keep being queued meanwhile.
    const auto syncNow = [&] {
        const int fd = s->fd;
        lock.unlock();
        ::fdatasync(fd);
        lock.lock();
        lastSync = Clock::now();
        dirty = false;
    };
    for (;;) {
        if (s->removed)
            break;
        if (s->queue.empty()) {
            if (s->syncAsked) {
                syncNow();
                s->syncAsked = false;
                s->drained.notify_all();
                continue;
            }
            if (s->stop)
                break;
            if (!lingered) {
                lingered = true;
                s->wake.wait_for(lock, Linger);
                continue;
            }
            s->asleep = true;
            if (dirty && s->wake.wait_until(lock, lastSync + SyncEvery) == std::cv_status::timeout &&
                s->queue.empty() && !s->removed) {
                syncNow();
            } else if (!dirty) {
                s->wake.wait(lock);
            }
            s->asleep = false;
            continue;
        }
        lingered = false;
        std::deque<Writer::Shared::Item> batch;
        batch.swap(s->queue);
        s->writing = true;
        int fd = s->fd;
        const bool failed = s->error.load() != 0;
        lock.unlock();
        qint64 bytes = 0;
        int error = 0;
        const auto put = [&](const QByteArray &r) {
            if (!failed && !error && !writeAll(fd, r.constData(), r.size()))
                error = errno ? errno : EIO;
        };
        for (Writer::Shared::Item &item : batch) {
            bytes += item.bytes.size();
            if (item.renew) {
                if (!failed && !error)
                    error = renewFile(*s, fd);
                continue;
            }
            if (!item.next) {
                put(item.bytes);
                continue;
            }
            QByteArray made;
            while (!failed && !error && !s->removed && item.next(made))
                put(made);
        }
        QByteArray room;
        for (Writer::Shared::Item &item : batch)
            if (!item.next && !item.renew && item.bytes.capacity() > room.capacity() && item.bytes.isDetached())
                room = std::move(item.bytes);
        batch.clear();
        room.resize(0);
        if (!failed && !error && Clock::now() - lastSync >= SyncEvery) {
            ::fdatasync(fd);
            lastSync = Clock::now();
            dirty = false;
        } else {
            dirty = !failed && !error;
        }
        lock.lock();
        s->queued -= bytes;
        s->writing = false;
        if (room.capacity() > s->spare.capacity())
            s->spare = std::move(room);
        if (error && !s->error.load())
            s->error.store(error);
        s->drained.notify_all();
    }
    if (s->fd >= 0)
        ::close(s->fd);
    s->fd = -1;
    s->drained.notify_all();
}

} // namespace

Writer::Writer(std::shared_ptr<Shared> shared) : m_shared(std::move(shared))
{
    std::thread(run, m_shared).detach();
}

Writer::~Writer()
{
    // The thread finishes what is queued on its own; ending the program does not wait for it.
    std::lock_guard lock(m_shared->mutex);
    m_shared->stop = true;
    m_shared->wake.notify_all();
}

std::unique_ptr<Writer> Writer::create(const QString &folder, QString *why)
{
    // Writing past a file size limit must fail like a full disk, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QString failedAt;
    if (const int error = makeFolder(folder, &failedAt)) {
        *why = describeError(error, failedAt);
        return nullptr;
    }
    const QString path = folder + QLatin1Char('/') + ownName();
    // Made under a name no one looks for, locked, then given its own: a starting program never sees
    // a journal that is not yet locked.
    const QByteArray temporary = QFile::encodeName(path + QStringLiteral(".new"));
    // Readable too: a journal whose name is taken from it is copied out of it.
    const int fd = ::open(temporary.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *why = describeError(errno, folder);
        return nullptr;
    }
    const QByteArray head = header();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAll(fd, head.constData(), head.size()) ||
        ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno ? errno : EIO;
        ::close(fd);
        ::unlink(temporary.constData());
        *why = describeError(error, folder);
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    shared->own(fd, path);
    shared->folder = folder;
    return std::unique_ptr<Writer>(new Writer(shared));
}

std::unique_ptr<Writer> Writer::adopt(Orphan &&orphan, const QString &folder, qsizetype validBytes, QString *why)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const QString path = folder + QLatin1Char('/') + ownName();
    // Nothing may stay mapped over the tail that is cut off: touching it would end the program.
    orphan.bytes = QByteArray();
    orphan.map = Mapping();
    // The damaged tail goes, so that new records follow the last whole one; the header takes this
    // program's format, whose records follow.
    const QByteArray head = header();
    if (::ftruncate(orphan.fd, validBytes) != 0 ||
        ::pwrite(orphan.fd, head.constData(), size_t(head.size()), 0) != head.size() ||
        ::lseek(orphan.fd, 0, SEEK_END) < 0 ||
        ::rename(QFile::encodeName(orphan.path).constData(), QFile::encodeName(path).constData()) != 0) {
        *why = describeError(errno ? errno : EIO, folder);
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    shared->own(orphan.fd, path);
    shared->folder = folder;
    orphan.fd = -1;
    orphan.bytes = QByteArray();
    return std::unique_ptr<Writer>(new Writer(shared));
}

QString Writer::path() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->path;
}

void Writer::write(QByteArray record)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->removed || m_shared->error.load())
        return;
    if (m_shared->queued + record.size() > MaxQueued) {
        m_shared->error.store(ErrBacklog);
        m_shared->queue.clear();
        return;
    }
    m_shared->queued += record.size();
    m_shared->queue.push_back(Shared::Item{std::move(record), {}});
    m_shared->wake.notify_one();
}

void Writer::write(Type type, quint8 flags, QByteArrayView bytes)
{
    std::unique_lock lock(m_shared->mutex);
    Shared &s = *m_shared;
    if (s.removed || s.error.load())
        return;
    if (s.queued + bytes.size() + AppendedAround > MaxQueued) {
        s.error.store(ErrBacklog);
        s.queue.clear();
        return;
    }
    // Records gather in one buffer, whose room comes back from the thread once written.
    if (s.queue.empty() || s.queue.back().next || s.queue.back().renew || s.queue.back().bytes.size() >= GatherBytes)
        s.queue.push_back(Shared::Item{std::exchange(s.spare, QByteArray()), {}});
    s.queued += appendRecord(s.queue.back().bytes, type, flags, bytes);
    const bool wake = s.asleep;
    s.asleep = false;
    lock.unlock();
    if (wake)
        s.wake.notify_one();
}

void Writer::writeFrom(std::function<bool(QByteArray &record)> next)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->removed || m_shared->error.load())
        return;
    m_shared->queue.push_back(Shared::Item{QByteArray(), std::move(next)});
    m_shared->wake.notify_one();
}

int Writer::error() const { return m_shared->error.load(); }

bool Writer::flush(int ms)
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->wake.notify_one();
    return m_shared->drained.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return (m_shared->queue.empty() && !m_shared->writing) || m_shared->removed;
    });
}

bool Writer::sync(int ms)
{
    std::unique_lock lock(m_shared->mutex);
    if (m_shared->removed || m_shared->error.load())
        return false;
    m_shared->syncAsked = true;
    m_shared->wake.notify_one();
    return m_shared->drained.wait_for(lock, std::chrono::milliseconds(ms), [this] {
        return (m_shared->queue.empty() && !m_shared->writing && !m_shared->syncAsked) || m_shared->removed;
    });
}

bool Writer::named() const
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->removed || m_shared->renewAsked || m_shared->error.load())
        return true;
    struct stat st {};
    return ::stat(QFile::encodeName(m_shared->path).constData(), &st) == 0 && st.st_dev == m_shared->device &&
           st.st_ino == m_shared->inode;
}

void Writer::renew()
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->removed || m_shared->renewAsked || m_shared->error.load())
        return;
    m_shared->renewAsked = true;
    Shared::Item item;
    item.renew = true;
    m_shared->queue.push_back(std::move(item));
    m_shared->wake.notify_one();
}

void Writer::remove()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->removed = true;
    m_shared->queue.clear();
    ::unlink(QFile::encodeName(m_shared->path).constData());
    m_shared->wake.notify_all();
}

QString describeError(int error, const QString &path)
{
    switch (error) {
    case EFBIG:
        return QStringLiteral("файл журнала достиг предельного размера");
    case ErrBacklog:
        return QStringLiteral("диск не успевает записывать слайды");
    default: {
        // The reason in the words saving and export use, begun in lower case inside the sentence.
        QString reason = controls::systemReason(error);
        if (!reason.isEmpty())
            reason[0] = reason[0].toLower();
        return QStringLiteral("«%1»: %2").arg(QDir::toNativeSeparators(path), reason);
    }
    }
}

} // namespace slides::journal
