#include "slides/SeriesReader.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QtEndian>

#include <new>

#include "files/AssetFile.h"
#include "files/NumberedFiles.h"
#include "slides/SlideSource.h"

namespace slides {

namespace {

// A slide as a 24-bit BMP is 411 KB; a PNG or JPEG of it is smaller still. Anything much larger is not a slide.
constexpr qint64 MaxSlideBytes = qint64(4) << 20;

quint32 le32(const QByteArray &b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }

// An uncompressed BMP cut short: Qt's reader fills what is missing instead of failing.
bool bmpCutShort(const QByteArray &b)
{
    if (!b.startsWith("BM") || b.size() < 34)
        return false;
    const quint32 offset = le32(b, 10), header = le32(b, 14);
    if (header < 40)
        return false;
    const qint64 width = qint32(le32(b, 18)), height = qAbs(qint64(qint32(le32(b, 22))));
    const quint16 bits = qFromLittleEndian<quint16>(b.constData() + 28);
    const quint32 compression = le32(b, 30);
    if (compression != 0 || width <= 0 || bits == 0)
        return false;
    const qint64 stride = (width * bits + 31) / 32 * 4;
    return qint64(offset) + stride * height > b.size();
}

// A slide as saving writes it (24 bits, uncompressed, bottom-up) taken straight from its bytes: its
// rows are already the store's, so there is nothing to decode, only their order to turn.
QImage savedSlide(const QByteArray &b)
{
    if (!b.startsWith("BM") || b.size() < 34 || le32(b, 14) < 40)
        return QImage();
    const quint32 offset = le32(b, 10);
    if (qint32(le32(b, 18)) != SlideWidth || qint32(le32(b, 22)) != SlideHeight ||
        qFromLittleEndian<quint16>(b.constData() + 28) != 24 || le32(b, 30) != 0 ||
        qint64(offset) + qint64(SlideStore::RawBytes) > b.size())
        return QImage();
    const QImage rows(reinterpret_cast<const uchar *>(b.constData() + offset), SlideWidth, SlideHeight,
                      SlideStore::RowBytes, QImage::Format_BGR888);
    return rows.mirrored(false, true);
}

// The picture in `path` when it is a slide: read whole and checked for type and size first, so that a
// FIFO or a huge file under a slide's name costs nothing; its header is read before its pixels.
QImage readSlide(const QString &path)
{
    files::FileData data = files::readAsset(path, MaxSlideBytes);
    if (!data.ok() || bmpCutShort(data.bytes))
        return QImage();
    if (QImage saved = savedSlide(data.bytes); !saved.isNull())
        return saved;
    QBuffer in(&data.bytes);
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
    // Packed into a store of their own, exactly as recording packs: the buffer holds them the same way.
    SlideStore store;
    const int total = int(found.size());
    for (int k = 0; k < total; ++k) {
        if (cancel.load(std::memory_order_relaxed)) {
            series.status = Series::Cancelled;
            return series;
        }
        const QImage image = readSlide(found[size_t(k)].path);
        if (image.isNull()) {
            if (series.leftOut++ == 0)
                series.firstLeftOut = found[size_t(k)].path;
        } else if (!store.append(image)) {
            series.status = Series::OutOfMemory;
            return series;
        }
        if (progress)
            progress(k + 1, total);
    }
    if (store.count() == 0)
        return series;
    try {
        if (!store.take(1, store.count(), series.slides.packed)) {
            series.status = Series::OutOfMemory;
            return series;
        }
        series.slides.unsaved.assign(series.slides.packed.size(), 1);
    } catch (const std::bad_alloc &) {
        series.slides = {};
        series.status = Series::OutOfMemory;
        return series;
    }
    series.status = Series::Read;
    return series;
}

} // namespace slides
