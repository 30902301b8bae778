#include "slides/SeriesReader.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "files/AssetFile.h"
#include "files/NumberedFiles.h"
#include "slides/SlideFiles.h"
#include "slides/SlideSource.h"

namespace slides {

namespace {

// A slide as a 24-bit BMP is 411 KB; a PNG or JPEG of it is smaller still. Anything much larger is not a slide.
constexpr qint64 MaxSlideBytes = qint64(4) << 20;

// A little-endian field of a BMP header.
quint32 le32(const char *b, int at) { return qFromLittleEndian<quint32>(b + at); }
quint16 le16(const char *b, int at) { return qFromLittleEndian<quint16>(b + at); }

// An uncompressed BMP cut short: Qt's reader fills what is missing instead of failing.
bool bmpCutShort(const QByteArray &b)
{
    if (!b.startsWith("BM") || b.size() < 34)
        return false;
    const char *h = b.constData();
    const quint32 offset = le32(h, 10), header = le32(h, 14);
    if (header < 40)
        return false;
    const qint64 width = qint32(le32(h, 18)), height = qAbs(qint64(qint32(le32(h, 22))));
    const quint16 bits = le16(h, 28);
    const quint32 compression = le32(h, 30);
    if (compression != 0 || width <= 0 || bits == 0)
        return false;
    // Every field is at most 32 bits wide, but a row's length times the rows can pass 64 bits: the
    // room behind the rows' start is divided instead.
    const qint64 stride = (width * bits + 31) / 32 * 4;
    const qint64 room = qint64(b.size()) - qint64(offset);
    return room < 0 || (height > 0 && height > room / stride);
}

// Another picture of a slide's size, decoded from its bytes; its header is read before its pixels.
QImage decodedSlide(QByteArray &bytes)
{
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    QImageReader reader(&in);
    // The file's own contents say what it is: a PNG saved as "5.bmp" is still the picture it holds.
    reader.setDecideFormatFromContent(true);
    if (reader.size() != QSize(SlideWidth, SlideHeight))
        return QImage();
    QImage image = reader.read();
    return image.size() == QSize(SlideWidth, SlideHeight) ? image : QImage();
}

} // namespace

Added addSlide(QByteArray &bytes, SlideStore &store)
{
    if (const qint64 offset = savedSlideRows(bytes.constData(), bytes.size())) {
        constexpr qsizetype Row = SlideStore::RowBytes;
        return store.appendRows(bytes.constData() + offset + (SlideHeight - 1) * Row, -Row) ? Added::Yes
                                                                                            : Added::OutOfMemory;
    }
    if (bmpCutShort(bytes))
        return Added::LeftOut;
    const QImage image = decodedSlide(bytes);
    if (image.isNull())
        return Added::LeftOut;
    return store.append(image) ? Added::Yes : Added::OutOfMemory;
}

namespace {

// One part of a series, read into a store of its own: packed exactly as recording packs.
struct Part {
    size_t from = 0, to = 0; // the files it reads
    SlideStore store;
    Series::Status status = Series::Read;
    int leftOut = 0;
    QString firstLeftOut;
};

// Reads `part`'s files until they are done, `cancel` or `stop` is set; `told` is called after each.
void readPart(const std::vector<files::NumberedFile> &found, Part &part, const std::atomic<bool> &cancel,
              const std::atomic<bool> &stop, std::atomic<int> &done, const std::function<void()> &told)
{
    QByteArray bytes; // its room goes from file to file
    for (size_t k = part.from; k < part.to; ++k) {
        if (cancel.load(std::memory_order_relaxed) || stop.load(std::memory_order_relaxed)) {
            part.store.clear();
            part.status = Series::Cancelled;
            return;
        }
        // Each file is read whole and checked for type and size first, so that a FIFO or a huge file
        // under a slide's name costs nothing.
        const Added added = files::readAssetInto(found[k].path, MaxSlideBytes, bytes) == files::ReadStatus::Ok
                                ? addSlide(bytes, part.store)
                                : Added::LeftOut;
        if (added == Added::OutOfMemory) {
            part.store.clear();
            part.status = Series::OutOfMemory;
            return;
        }
        if (added == Added::LeftOut && part.leftOut++ == 0)
            part.firstLeftOut = found[k].path;
        done.fetch_add(1, std::memory_order_relaxed);
        if (told)
            told();
    }
}

} // namespace

Series readSeries(const QString &folder, const std::atomic<bool> &cancel,
                  const std::function<void(int done, int total)> &progress)
{
    Series series;
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        series.status = Series::Unreadable;
        return series;
    }
    const auto found = files::numberedFiles(
        folder, {QStringLiteral("bmp"), QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")}, true);
    if (found.empty())
        return series;
    const int total = int(found.size());
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};     // one part failed: the other need not go on
    std::mutex mutex;                  // guards secondDone
    std::condition_variable finished;
    bool secondDone = false;
    const auto tell = [&] {
        if (progress)
            progress(done.load(std::memory_order_relaxed), total);
    };

    // A long series is read in two parts at once, the second on a thread of its own: the system's copy of
    // each file and the comparison of its slide with the one before are both bound by memory, and two
    // cores each with their own cache do nearly twice the work. The second part starts on a key's place,
    // so that the joined store holds the keys recording would have made, as long as no large change
    // (a pan, a new background) forced a key out of turn before it; then its first slide is a whole key
    // where recording might have kept a packed one.
    Part parts[2];
    parts[0].to = found.size();
    std::thread second;
    if (found.size() >= size_t(2 * SlideStore::KeyInterval)) {
        // The key's place nearest the middle, so that the two parts take about as long.
        constexpr size_t Key = SlideStore::KeyInterval;
        const size_t half = (found.size() / 2 + Key / 2) / Key * Key;
        parts[0].to = parts[1].from = half;
        parts[1].to = found.size();
        try {
            second = std::thread([&] {
                readPart(found, parts[1], cancel, stop, done, {});
                if (parts[1].status != Series::Read)
                    stop = true;
                std::lock_guard lock(mutex);
                secondDone = true;
                finished.notify_one();
            });
        } catch (const std::system_error &) {
            parts[0].to = found.size(); // no thread to be had: one part, read here
            parts[1] = Part();
        }
    }
    readPart(found, parts[0], cancel, stop, done, tell);
    if (second.joinable()) {
        if (parts[0].status != Series::Read)
            stop = true;
        // The second part's progress is told from here, where the caller wants it.
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return secondDone; }))
            tell();
        lock.unlock();
        second.join();
    }
    tell();

    // A part stopped because the other failed says Cancelled; the failure is what counts.
    for (const Part &part : parts)
        if (part.status == Series::OutOfMemory) {
            series.status = Series::OutOfMemory;
            return series;
        }
    for (const Part &part : parts) {
        if (part.status != Series::Read) {
            // Cancelled by the caller.
            series.status = part.status;
            return series;
        }
        if (part.leftOut > 0 && series.leftOut == 0)
            series.firstLeftOut = part.firstLeftOut;
        series.leftOut += part.leftOut;
    }
    // Packed into stores of their own, exactly as recording packs: the buffer takes over their blocks.
    series.slides.swap(parts[0].store);
    if (!series.slides.appendAll(std::move(parts[1].store))) {
        series.slides.clear();
        series.status = Series::OutOfMemory;
        return series;
    }
    if (series.slides.count() > 0)
        series.status = Series::Read;
    return series;
}

} // namespace slides
