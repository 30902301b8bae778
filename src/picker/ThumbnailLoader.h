#pragma once
// Reads the picker's thumbnails on worker threads, small from the start, and
// hands them to the user-interface thread in batches, so that a folder of
// thousands of pictures never holds up the window. Thumbnails of files whose
// size and modification time have not changed are taken from a cache; a
// folder's cache keeps only the files of its latest listing. A worker stuck
// in a file that does not answer holds up neither later openings (their
// work goes to fresh threads) nor the end of the program.

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <vector>

namespace picker {

struct Thumbnail {
    int index = -1;        // position in the listing the request was made with
    QImage image;          // null when the file could not be read as a picture
    bool fromCache = false;
};

class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    // Reads one thumbnail; readThumbnail unless a test puts another in.
    using Reader = std::function<QImage(const QString &path, QSize size)>;

    explicit ThumbnailLoader(QObject *parent = nullptr, Reader reader = {});
    // Waits a moment for the workers; those still busy then are left to end
    // on their own, and what they deliver goes nowhere.
    ~ThumbnailLoader() override;

    // Starts reading thumbnails of `size` pixels for the files `names` of
    // `folder` (a name may also be a whole path, of a file elsewhere); the
    // cache is kept per `folder`. Whatever an earlier request has not yet
    // delivered is dropped.
    void start(const QString &folder, const QStringList &names, QSize size);
    void cancel();

    bool finished() const { return m_received >= m_expected; }

    // Bytes of picture data the cache holds.
    qint64 cachedBytes() const;

    // A picture scaled to `size` (proportions not kept), or a null image when
    // the file is not a picture the loader reads, is larger than its
    // allocation limit allows, or is refused by files::readAsset.
    static QImage readThumbnail(const QString &path, QSize size);

    // The whole picture at full size, under the same refusals. `refused`, if
    // given, tells a file refused before decoding (not a regular file, too
    // large, out of memory) from one read but not a picture.
    // `bytes`, when given, receives the file as read (also when it holds no picture).
    static QImage readPicture(const QString &path, bool *refused = nullptr, QByteArray *bytes = nullptr);

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
    struct Link;

    void receive(int generation, const QList<Result> &results);
    void keepFinishedResults();
    void retireBusyPool();
    std::unique_ptr<QThreadPool> newPool() const;

    std::shared_ptr<Link> m_link;          // shared with the jobs, which may outlive the loader
    std::unique_ptr<QThreadPool> m_pool;
    std::vector<std::unique_ptr<QThreadPool>> m_retired;   // pools still busy with cancelled work
    int m_generation = 0;
    QHash<QString, FolderCache> m_cache;   // folder path -> file name -> thumbnail
    QString m_folder;
    FolderCache m_fresh;                   // this request's results so far
    int m_expected = 0;
    int m_received = 0;
};

} // namespace picker
