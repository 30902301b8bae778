#include "slides/Journal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "controls/SystemError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace slides::journal {

namespace {

constexpr char Magic[8] = {'V', 'E', 'L', 'L', 'U', 'M', 'O', 'J'};
constexpr qsizetype HeaderBytes = HeaderSize;
constexpr qsizetype FrameBytes = 4 + 1 + 8; // length, type, checksum
constexpr quint32 MaxPayload = 64u << 20;
// Past this much waiting for the disk the journal gives up rather than hold memory without end.
constexpr qint64 MaxQueued = 512ll << 20;
constexpr int ErrBacklog = ENOBUFS;

quint64 load8(const char *p)
{
    quint64 v;
    std::memcpy(&v, p, 8);
    return qFromLittleEndian(v);
}

constexpr quint64 rotl(quint64 x, int r) { return (x << r) | (x >> (64 - r)); }

// A 64-bit checksum of `size` bytes, started from `start`, in four
// independent lanes, so that checking a journal runs at nearly the speed of
// reading it.
quint64 checksum(const char *bytes, qsizetype size, quint64 start)
{
    // Large odd multipliers that spread every input bit over the whole word.
    constexpr quint64 Spread = 0x9E3779B185EBCA87ull, Scatter = 0xC2B2AE3D27D4EB4Full,
                      Settle = 0x165667B19E3779F9ull;
    const auto mixWord = [](quint64 sum, quint64 word) { return rotl(sum + word * Scatter, 31) * Spread; };
    quint64 lanes[4] = {start + Spread + Scatter, start + Scatter, start, start - Spread};
    qsizetype at = 0;
    for (; at + 32 <= size; at += 32)
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = mixWord(lanes[lane], load8(bytes + at + 8 * lane));
    quint64 sum = rotl(lanes[0], 1) + rotl(lanes[1], 7) + rotl(lanes[2], 12) + rotl(lanes[3], 18) + quint64(size);
    for (; at + 8 <= size; at += 8)
        sum = rotl(sum ^ mixWord(0, load8(bytes + at)), 27) * Spread + Settle;
    for (; at < size; ++at)
        sum = rotl(sum ^ (quint64(quint8(bytes[at])) * Settle), 11) * Spread;
    sum ^= sum >> 33;
    sum *= Scatter;
    sum ^= sum >> 29;
    sum *= Settle;
    return sum ^ (sum >> 32);
}

void putU32(char *at, quint32 v) { qToLittleEndian(v, at); }
quint32 getU32(const char *at) { return qFromLittleEndian<quint32>(at); }

// Builds a record around a payload of `size` bytes that `fill` writes.
template<typename Fill>
QByteArray frame(Type type, qsizetype size, Fill fill)
{
    QByteArray out(FrameBytes + size, Qt::Uninitialized);
    char *p = out.data();
    putU32(p, quint32(size));
    p[4] = char(type);
    fill(p + 5);
    const quint64 sum = checksum(p + 4, 1 + size, quint64(size));
    qToLittleEndian(sum, p + 5 + size);
    return out;
}

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

} // namespace

QByteArray header(quint32 version)
{
    QByteArray out(HeaderBytes, '\0');
    std::memcpy(out.data(), Magic, sizeof Magic);
    putU32(out.data() + 8, version);
    return out;
}

QByteArray record(Type type, QByteArrayView payload)
{
    return frame(type, payload.size(), [&](char *p) {
        if (!payload.isEmpty())
            std::memcpy(p, payload.data(), size_t(payload.size()));
    });
}

QByteArray record(Type type, quint8 flags, QByteArrayView bytes)
{
    return frame(type, 1 + bytes.size(), [&](char *p) {
        p[0] = char(flags);
        if (!bytes.isEmpty())
            std::memcpy(p + 1, bytes.data(), size_t(bytes.size()));
    });
}

QByteArray numbers(const std::vector<int> &ascending)
{
    QByteArray out(qsizetype(ascending.size()) * 4, Qt::Uninitialized);
    for (size_t k = 0; k < ascending.size(); ++k)
        putU32(out.data() + 4 * k, quint32(ascending[k]));
    return out;
}

std::vector<int> readNumbers(QByteArrayView payload)
{
    std::vector<int> out;
    if (payload.isEmpty() || payload.size() % 4)
        return out;
    out.reserve(size_t(payload.size() / 4));
    for (qsizetype k = 0; k < payload.size(); k += 4) {
        const quint32 v = getU32(payload.data() + k);
        // Numbers run from 1 upwards without repeats; anything else is no list this program wrote.
        if (v < 1 || v > 0x7fffffff || (!out.empty() && int(v) <= out.back()))
            return {};
        out.push_back(int(v));
    }
    return out;
}

Parsed parse(QByteArrayView bytes)
{
    Parsed out;
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
        return out;
    out.version = getU32(bytes.data() + 8);
    if (out.version == 0)
        return out;
    if (out.version > FormatVersion) {
        out.status = Parsed::FutureVersion;
        return out;
    }
    out.status = Parsed::Ok;
    qsizetype pos = HeaderBytes;
    const qsizetype size = bytes.size();
    const char *data = bytes.data();
    while (size - pos >= FrameBytes) {
        const quint32 len = getU32(data + pos);
        if (len > MaxPayload || qsizetype(len) > size - pos - FrameBytes)
            break;
        const auto type = quint8(data[pos + 4]);
        const quint64 stored = qFromLittleEndian<quint64>(data + pos + 5 + len);
        if (type < quint8(Type::Base) || type > quint8(Type::Saved) || checksum(data + pos + 4, 1 + len, len) != stored)
            break;
        out.records.push_back(Record{Type(type), QByteArrayView(data + pos + 5, qsizetype(len))});
        pos += FrameBytes + len;
    }
    out.validBytes = pos;
    out.damaged = pos < size;
    return out;
}

QString stateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is to be ignored, as freedesktop.org's base directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vellumo");
}

QString folderFor(const QString &programFolder, const QString &state)
{
    // The same program folder reached through a link or a "..", the same journals.
    QString path = QFileInfo(programFolder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QFileInfo(programFolder).absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(12);
    // The path itself, shortened from the front, tells a person whose journals these are.
    QString hint = path.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('-')).right(40);
    if (!hint.isEmpty())
        hint += QLatin1Char('-');
    return state + QLatin1Char('/') + hint + QString::fromLatin1(hash);
}

int takeOverOlderJournals(const QString &folder)
{
    const QString older = QFileInfo(folder).absolutePath();
    std::vector<Orphan> left = orphans(older);
    if (left.empty() || !QDir().mkpath(folder))
        return 0;
    int moved = 0;
    for (Orphan &o : left) {
        const QString to = folder + QLatin1Char('/') + QFileInfo(o.path).fileName();
        // Still locked while it moves: no other starting copy can take it at the same time.
        if (::rename(QFile::encodeName(o.path).constData(), QFile::encodeName(to).constData()) == 0)
            ++moved;
        closeOrphan(o);
    }
    return moved;
}

// Makes `folder` and its missing parents; 0, or the system's error and the path it failed at.
static int makeFolder(const QString &folder, QString *failedAt)
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

std::vector<Orphan> orphans(const QString &folder)
{
    std::vector<Orphan> out;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("journal-*.vlj")}, QDir::Files,
                                                           QDir::Time);
    for (const QFileInfo &info : files) {
        const QByteArray name = QFile::encodeName(info.absoluteFilePath());
        const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A journal whose program still runs stays locked by it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        struct stat st {};
        Mapping map(fd, ::fstat(fd, &st) == 0 ? qsizetype(st.st_size) : 0);
        const QByteArray bytes = QByteArray::fromRawData(map.data(), map.size());
        out.push_back(Orphan{info.absoluteFilePath(), fd, std::move(map), bytes});
    }
    return out;
}

void closeOrphan(Orphan &o)
{
    if (o.fd >= 0)
        ::close(o.fd);
    o.fd = -1;
    o.bytes = QByteArray();
    o.map = Mapping();
}

Mapping::Mapping(int fd, qsizetype size)
{
    if (size <= 0)
        return;
    void *at = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (at == MAP_FAILED)
        return;
    ::madvise(at, size_t(size), MADV_SEQUENTIAL);
    m_at = at;
    m_size = size_t(size);
}

Mapping &Mapping::operator=(Mapping &&other) noexcept
{
    if (this != &other) {
        if (m_at)
            ::munmap(m_at, m_size);
        m_at = std::exchange(other.m_at, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

Mapping::~Mapping()
{
    if (m_at)
        ::munmap(m_at, m_size);
}

void Mapping::release(qsizetype end) const
{
    const auto page = qsizetype(::sysconf(_SC_PAGESIZE));
    const qsizetype whole = std::min<qsizetype>(end, qsizetype(m_size)) / page * page;
    if (m_at && whole > 0)
        ::madvise(m_at, size_t(whole), MADV_DONTNEED);
}

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
            if (dirty && s->wake.wait_until(lock, lastSync + SyncEvery) == std::cv_status::timeout &&
                s->queue.empty() && !s->removed) {
                syncNow();
            } else if (!dirty) {
                s->wake.wait(lock);
            }
            continue;
        }
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
        batch.clear();
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
