#include "picker/ThumbnailLoader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
#include <QRunnable>
#include <QThread>

namespace picker {

namespace {

// Files per worker job: small enough that the first row shows at once,
// large enough that the window is not flooded with tiny deliveries.
constexpr int FilesPerJob = 8;

bool withinAllocationLimit(const QSize &size)
{
    const qint64 limitMb = QImageReader::allocationLimit();
    if (limitMb <= 0 || !size.isValid())
        return true;
    return qint64(size.width()) * size.height() * 4 <= limitMb * 1024 * 1024;
}

} // namespace

class ThumbnailLoader::Job : public QRunnable {
public:
    Job(ThumbnailLoader *owner, std::shared_ptr<std::atomic<int>> current, int generation, QString folder,
        QList<QPair<int, QString>> files, FolderCache previous, QSize size)
        : m_owner(owner), m_current(std::move(current)), m_generation(generation), m_folder(std::move(folder)),
          m_files(std::move(files)), m_previous(std::move(previous)), m_size(size)
    {
    }

    void run() override
    {
        QList<Result> results;
        for (const auto &[index, name] : m_files) {
            if (m_current->load() != m_generation)
                return;
            const QFileInfo info(m_folder + QLatin1Char('/') + name);
            Entry e;
            e.size = info.size();
            e.modified = info.lastModified().toMSecsSinceEpoch();
            e.thumbSize = m_size;
            const auto old = m_previous.constFind(name);
            const bool hit = old != m_previous.constEnd() && old->size == e.size && old->modified == e.modified &&
                             old->thumbSize == m_size;
            e.image = hit ? old->image : readThumbnail(info.filePath(), m_size);
            results.append({index, name, e, hit});
        }
        // The owner waits for every job before it goes, so it is alive here.
        ThumbnailLoader *owner = m_owner;
        const int generation = m_generation;
        QMetaObject::invokeMethod(
            owner, [owner, generation, results] { owner->receive(generation, results); }, Qt::QueuedConnection);
    }

private:
    ThumbnailLoader *m_owner;
    std::shared_ptr<std::atomic<int>> m_current;
    int m_generation;
    QString m_folder;
    QList<QPair<int, QString>> m_files;
    FolderCache m_previous;
    QSize m_size;
};

ThumbnailLoader::ThumbnailLoader(QObject *parent)
    : QObject(parent), m_current(std::make_shared<std::atomic<int>>(0))
{
    // Decoding must never compete with the window for the processor.
    m_pool.setThreadPriority(QThread::LowPriority);
}

ThumbnailLoader::~ThumbnailLoader()
{
    m_current->store(-1);
    m_pool.clear();
    m_pool.waitForDone();
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
            m_pool.start(new Job(this, m_current, m_generation, folder, files, previous, size));
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
    m_current->store(m_generation);
    m_pool.clear();
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
    if (generation != m_current->load())
        return;
    QList<Thumbnail> batch;
    batch.reserve(results.size());
    for (const Result &r : results) {
        m_fresh.insert(r.name, r.entry);
        batch.append({r.index, r.entry.image, r.fromCache});
    }
    m_received += int(results.size());
    emit delivered(batch);
    if (m_received >= m_expected && generation == m_current->load()) {
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

QImage ThumbnailLoader::readThumbnail(const QString &path, QSize size)
{
    QImageReader reader(path);
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
}

QImage ThumbnailLoader::readPicture(const QString &path)
{
    QImageReader reader(path);
    if (!withinAllocationLimit(reader.size()))
        return QImage();
    return reader.read();
}

} // namespace picker
