#include "picker/ThumbnailLoader.h"

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRunnable>
#include <QThread>

#include <atomic>
#include <mutex>
#include <new>

#include "files/AssetFile.h"

namespace picker {

namespace {

// Files per worker job: small enough that the first row shows at once,
// large enough that the window is not flooded with tiny deliveries.
constexpr int FilesPerJob = 8;

// How long the loader's end waits for its workers before it leaves them.
constexpr int ShutdownWaitMs = 200;

bool withinAllocationLimit(const QSize &size)
{
    const qint64 limitMb = QImageReader::allocationLimit();
    if (limitMb <= 0 || !size.isValid())
        return true;
    return qint64(size.width()) * size.height() * 4 <= limitMb * 1024 * 1024;
}

} // namespace

// What the jobs know of their loader. The loader clears `owner` under the
// lock as it goes, so a job that finds it set may post to it.
struct ThumbnailLoader::Link {
    std::mutex mutex;
    ThumbnailLoader *owner = nullptr;
    std::atomic<int> current{0};   // the generation still wanted; -1 once the loader is gone
    Reader reader;
};

class ThumbnailLoader::Job : public QRunnable {
public:
    Job(std::shared_ptr<Link> link, int generation, QString folder, QList<QPair<int, QString>> files,
        FolderCache previous, QSize size)
        : m_link(std::move(link)), m_generation(generation), m_folder(std::move(folder)),
          m_files(std::move(files)), m_previous(std::move(previous)), m_size(size)
    {
    }

    void run() override
    {
        QList<Result> results;
        for (const auto &[index, name] : m_files) {
            if (m_link->current.load() != m_generation)
                return;
            const QFileInfo info(QDir::isAbsolutePath(name) ? name : m_folder + QLatin1Char('/') + name);
            Entry e;
            e.size = info.size();
            e.modified = info.lastModified().toMSecsSinceEpoch();
            e.thumbSize = m_size;
            const auto old = m_previous.constFind(name);
            const bool hit = old != m_previous.constEnd() && old->size == e.size && old->modified == e.modified &&
                             old->thumbSize == m_size;
            e.image = hit ? old->image : m_link->reader(info.filePath(), m_size);
            results.append({index, name, e, hit});
        }
        std::lock_guard lock(m_link->mutex);
        ThumbnailLoader *owner = m_link->owner;
        if (!owner || m_link->current.load() != m_generation)
            return;
        const int generation = m_generation;
        QMetaObject::invokeMethod(
            owner, [owner, generation, results] { owner->receive(generation, results); }, Qt::QueuedConnection);
    }

private:
    std::shared_ptr<Link> m_link;
    int m_generation;
    QString m_folder;
    QList<QPair<int, QString>> m_files;
    FolderCache m_previous;
    QSize m_size;
};

ThumbnailLoader::ThumbnailLoader(QObject *parent, Reader reader)
    : QObject(parent), m_link(std::make_shared<Link>())
{
    m_link->owner = this;
    m_link->reader = reader ? std::move(reader) : Reader(readThumbnail);
    m_pool = newPool();
}

ThumbnailLoader::~ThumbnailLoader()
{
    {
        std::lock_guard lock(m_link->mutex);
        m_link->owner = nullptr;
        m_link->current.store(-1);
    }
    m_retired.push_back(std::move(m_pool));
    QElapsedTimer waited;
    waited.start();
    for (std::unique_ptr<QThreadPool> &pool : m_retired) {
        pool->clear();
        // A worker stuck in a file would hold the program's end for ever:
        // past the wait its pool is left running, never to be deleted.
        if (!pool->waitForDone(int(std::max<qint64>(0, ShutdownWaitMs - waited.elapsed()))))
            (void)pool.release();
    }
}

std::unique_ptr<QThreadPool> ThumbnailLoader::newPool() const
{
    auto pool = std::make_unique<QThreadPool>();
    // Decoding must never compete with the window for the processor.
    pool->setThreadPriority(QThread::LowPriority);
    return pool;
}

void ThumbnailLoader::retireBusyPool()
{
    // Pools that have ended their cancelled work go; deleting an idle pool does not wait.
    std::erase_if(m_retired, [](const std::unique_ptr<QThreadPool> &pool) { return pool->activeThreadCount() == 0; });
    // A worker of a cancelled request may be stuck in a file: the next request gets threads of its own.
    if (m_pool->activeThreadCount() > 0) {
        m_retired.push_back(std::move(m_pool));
        m_pool = newPool();
    }
}

void ThumbnailLoader::start(const QString &folder, const QStringList &names, QSize size)
{
    cancel();
    m_folder = folder;
    m_expected = int(names.size());
    m_received = 0;
    m_fresh.clear();
    m_fresh.reserve(names.size());
    const FolderCache previous = m_cache.value(folder);
    QList<QPair<int, QString>> files;
    for (int i = 0; i < names.size(); ++i) {
        files.append({i, names[i]});
        if (files.size() == FilesPerJob || i + 1 == names.size()) {
            m_pool->start(new Job(m_link, m_generation, folder, files, previous, size));
            files.clear();
        }
    }
    if (m_expected == 0) {
        m_cache.remove(folder);
        emit allDelivered();
    }
}

void ThumbnailLoader::cancel()
{
    ++m_generation;
    m_link->current.store(m_generation);
    m_pool->clear();
    retireBusyPool();
    keepFinishedResults();
}

void ThumbnailLoader::keepFinishedResults()
{
    // An interrupted request still read some files; keep them for the next one.
    if (m_fresh.isEmpty())
        return;
    FolderCache &cache = m_cache[m_folder];
    for (auto it = m_fresh.cbegin(); it != m_fresh.cend(); ++it)
        cache.insert(it.key(), it.value());
    m_fresh.clear();
}

void ThumbnailLoader::receive(int generation, const QList<Result> &results)
{
    if (generation != m_link->current.load())
        return;
    QList<Thumbnail> batch;
    batch.reserve(results.size());
    for (const Result &r : results) {
        m_fresh.insert(r.name, r.entry);
        batch.append({r.index, r.entry.image, r.fromCache});
    }
    m_received += int(results.size());
    emit delivered(batch);
    if (m_received >= m_expected && generation == m_link->current.load()) {
        // Only the files of this listing stay: removed files leave the cache.
        m_cache[m_folder] = m_fresh;
        m_fresh.clear();
        emit allDelivered();
    }
}

qint64 ThumbnailLoader::cachedBytes() const
{
    qint64 bytes = 0;
    for (const FolderCache &folder : m_cache)
        for (const Entry &e : folder)
            bytes += e.image.sizeInBytes();
    for (const Entry &e : m_fresh)
        bytes += e.image.sizeInBytes();
    return bytes;
}

namespace {

// A reader over the file's bytes, read under files::readAsset's checks: a
// reader given the path would open it itself and wait on a FIFO. The
// extension still hints the format, as it does for a path.
struct PictureSource {
    files::FileData file;
    QBuffer buffer;
    QImageReader reader;

    explicit PictureSource(const QString &path) : file(files::readAsset(path))
    {
        if (!file.ok())
            return;
        buffer.setData(file.bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(QFileInfo(path).suffix().toLower().toLatin1());
    }
};

} // namespace

QImage ThumbnailLoader::readThumbnail(const QString &path, QSize size)
{
    try {
        PictureSource source(path);
        if (!source.file.ok())
            return QImage();
        QImageReader &reader = source.reader;
        const QSize full = reader.size();
        if (!withinAllocationLimit(full))
            return QImage();
        // JPEG decodes straight at the small size; other formats are scaled by the reader after decoding.
        if (full.isValid() && size.isValid())
            reader.setScaledSize(size);
        QImage image = reader.read();
        if (image.isNull())
            return QImage();
        if (size.isValid() && image.size() != size)
            image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    } catch (const std::bad_alloc &) {
        return QImage();
    }
}

QImage ThumbnailLoader::readPicture(const QString &path, bool *refused, QByteArray *bytes)
{
    if (refused)
        *refused = true;
    try {
        PictureSource source(path);
        if (!source.file.ok())
            return QImage();
        if (refused)
            *refused = false;
        if (bytes)
            *bytes = source.file.bytes;
        if (!withinAllocationLimit(source.reader.size()))
            return QImage();
        return source.reader.read();
    } catch (const std::bad_alloc &) {
        if (refused)
            *refused = true;
        return QImage();
    }
}

} // namespace picker
