#pragma once
// Reads the picker's thumbnails on worker threads, small from the start, and
// hands them to the user-interface thread in batches, so that a folder of
// thousands of pictures never holds up the window. Thumbnails of files whose
// size and modification time have not changed are taken from a cache; a
// folder's cache keeps only the files of its latest listing.

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <memory>

namespace picker {

struct Thumbnail {
    int index = -1;        // position in the listing the request was made with
    QImage image;          // null when the file could not be read as a picture
    bool fromCache = false;
};

class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    explicit ThumbnailLoader(QObject *parent = nullptr);
    ~ThumbnailLoader() override;

    // Starts reading thumbnails of `size` pixels for the files `names` of
    // `folder`. Whatever an earlier request has not yet delivered is dropped.
    void start(const QString &folder, const QStringList &names, QSize size);
    void cancel();

    bool finished() const { return m_received >= m_expected; }

    // Bytes of picture data the cache holds.
    qint64 cachedBytes() const;

    // A picture scaled to `size` (proportions not kept), or a null image when
    // the file is not a picture the loader reads, or is larger than its
    // allocation limit allows.
    static QImage readThumbnail(const QString &path, QSize size);

    // The whole picture at full size, under the same refusals.
    static QImage readPicture(const QString &path);

signals:
    void delivered(const QList<picker::Thumbnail> &batch);
    void allDelivered();

private:
    struct Entry {
        qint64 size = -1;
        qint64 modified = 0;
        QSize thumbSize;
        QImage image;
    };
    using FolderCache = QHash<QString, Entry>;
    struct Result {
        int index;
        QString name;
        Entry entry;
        bool fromCache;
    };
    class Job;

    void receive(int generation, const QList<Result> &results);
    void keepFinishedResults();

    QThreadPool m_pool;
    std::shared_ptr<std::atomic<int>> m_current;
    int m_generation = 0;
    QHash<QString, FolderCache> m_cache;   // folder path -> file name -> thumbnail
    QString m_folder;
    FolderCache m_fresh;                   // this request's results so far
    int m_expected = 0;
    int m_received = 0;
};

} // namespace picker
