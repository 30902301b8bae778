#include "anigif/GifWriter.h"

#include <QFile>
#include <QHash>
#include <QRect>
#include <QSaveFile>

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace anigif {

namespace {

// A GIF colour table holds 256 entries; one is kept back for transparency.
constexpr int MaxOpaqueColours = 255;

bool isTransparent(QRgb c) { return qAlpha(c) < 128; }
QRgb opaque(QRgb c) { return c | 0xff000000u; }

using Histogram = QHash<QRgb, quint32>;

// Adds the opaque colours of an image; says whether any pixel is transparent.
bool addColours(const QImage &image, Histogram &hist)
{
    bool transparent = false;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (isTransparent(row[x]))
                transparent = true;
            else
                ++hist[opaque(row[x])];
        }
    }
    return transparent;
}

bool hasTransparency(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (isTransparent(row[x]))
                return true;
    }
    return false;
}

int channel(QRgb c, int ch)
{
    return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c);
}

// Median cut. The colours are sorted first because QHash order changes from
// run to run, and the asset generator must give the same files every time.
QList<QRgb> medianCut(const Histogram &hist, int maxColours)
{
    struct Entry { QRgb colour; quint32 count; };
    std::vector<Entry> entries;
    entries.reserve(hist.size());
    for (auto it = hist.cbegin(); it != hist.cend(); ++it)
        entries.push_back({it.key(), it.value()});
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.colour < b.colour; });

    struct Box { size_t begin, end; int range = 0; int channel = 0; };
    auto measure = [&](Box &box) {
        int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
        for (size_t i = box.begin; i < box.end; ++i)
            for (int ch = 0; ch < 3; ++ch) {
                lo[ch] = std::min(lo[ch], channel(entries[i].colour, ch));
                hi[ch] = std::max(hi[ch], channel(entries[i].colour, ch));
            }
        box.range = -1;
        for (int ch = 0; ch < 3; ++ch)
            if (hi[ch] - lo[ch] > box.range) {
                box.range = hi[ch] - lo[ch];
                box.channel = ch;
            }
    };

    std::vector<Box> boxes;
    if (!entries.empty()) {
        boxes.push_back({0, entries.size()});
        measure(boxes.back());
    }
    while (int(boxes.size()) < maxColours) {
        auto widest = std::max_element(boxes.begin(), boxes.end(),
                                       [](const Box &a, const Box &b) { return a.range < b.range; });
        if (widest == boxes.end() || widest->range <= 0)
            break;
        Box box = *widest;
        const int ch = box.channel;
        std::sort(entries.begin() + box.begin, entries.begin() + box.end,
                  [ch](const Entry &a, const Entry &b) {
                      const int ca = channel(a.colour, ch), cb = channel(b.colour, ch);
                      return ca != cb ? ca < cb : a.colour < b.colour;
                  });
        quint64 total = 0;
        for (size_t i = box.begin; i < box.end; ++i)
            total += entries[i].count;
        // Split where half the pixels lie on each side, but never leave a
        // side empty.
        quint64 running = 0;
        size_t split = box.begin + 1;
        for (size_t i = box.begin; i < box.end - 1; ++i) {
            running += entries[i].count;
            split = i + 1;
            if (running * 2 >= total)
                break;
        }
        Box a{box.begin, split}, b{split, box.end};
        measure(a);
        measure(b);
        *widest = a;
        boxes.push_back(b);
    }

    QList<QRgb> palette;
    for (const Box &box : boxes) {
        quint64 r = 0, g = 0, b = 0, n = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            const Entry &e = entries[i];
            r += quint64(qRed(e.colour)) * e.count;
            g += quint64(qGreen(e.colour)) * e.count;
            b += quint64(qBlue(e.colour)) * e.count;
            n += e.count;
        }
        palette.append(qRgb(int((r + n / 2) / n), int((g + n / 2) / n), int((b + n / 2) / n)));
    }
    return palette;
}

QList<QRgb> paletteFor(const Histogram &hist)
{
    if (hist.size() <= MaxOpaqueColours) {
        QList<QRgb> exact = hist.keys();
        std::sort(exact.begin(), exact.end());
        return exact;
    }
    return medianCut(hist, MaxOpaqueColours);
}

// A colour table as it goes into the file, with its transparent slot.
struct Table {
    QList<QRgb> colours;
    int transparent = -1;

    Table() = default;
    Table(QList<QRgb> opaqueColours, bool needsTransparency)
    {
        colours = std::move(opaqueColours);
        for (QRgb &c : colours)
            c = opaque(c);
        if (colours.isEmpty())
            colours.append(qRgb(0, 0, 0));
        if (needsTransparency) {
            if (colours.size() > MaxOpaqueColours)
                colours.resize(MaxOpaqueColours);
            transparent = int(colours.size());
            colours.append(qRgb(0, 0, 0));
        }
        colours.resize(std::min<qsizetype>(colours.size(), 256));
    }
};

// Maps pixels to table indexes, remembering each colour's answer because
// drawings repeat the same colours over and over.
class Mapper {
public:
    explicit Mapper(const Table &table) : m_table(table)
    {
        for (int i = 0; i < int(table.colours.size()); ++i)
            if (i != table.transparent && !m_cache.contains(table.colours[i]))
                m_cache.insert(table.colours[i], GifPixelType(i));
    }

    GifPixelType index(QRgb pixel)
    {
        if (isTransparent(pixel) && m_table.transparent >= 0)
            return GifPixelType(m_table.transparent);
        pixel = opaque(pixel);
        auto it = m_cache.constFind(pixel);
        if (it != m_cache.cend())
            return *it;
        int best = 0;
        int bestDistance = INT_MAX;
        for (int i = 0; i < int(m_table.colours.size()); ++i) {
            if (i == m_table.transparent)
                continue;
            const QRgb c = m_table.colours[i];
            const int dr = qRed(c) - qRed(pixel), dg = qGreen(c) - qGreen(pixel), db = qBlue(c) - qBlue(pixel);
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        m_cache.insert(pixel, GifPixelType(best));
        return GifPixelType(best);
    }

private:
    const Table &m_table;
    QHash<QRgb, GifPixelType> m_cache;
};

struct MapDeleter {
    void operator()(ColorMapObject *map) const { GifFreeMapObject(map); }
};
using MapPtr = std::unique_ptr<ColorMapObject, MapDeleter>;

MapPtr makeMap(const Table &table)
{
    // giflib wants a power of two entries, at least two.
    int size = 2;
    while (size < table.colours.size())
        size *= 2;
    std::vector<GifColorType> colours(size_t(size), GifColorType{0, 0, 0});
    for (int i = 0; i < int(table.colours.size()); ++i) {
        const QRgb c = table.colours[i];
        colours[size_t(i)] = GifColorType{GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))};
    }
    return MapPtr(GifMakeMapObject(size, colours.data()));
}

int appendOutput(GifFileType *gif, const GifByteType *data, int length)
{
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(data), length);
    return length;
}

QString gifError(int code)
{
    const char *text = GifErrorString(code);
    return text ? QString::fromLatin1(text) : QStringLiteral("GIF error %1").arg(code);
}

// Row order of an interlaced image: every 8th row from 0, every 8th from 4,
// every 4th from 2, then the odd rows.
std::vector<int> rowOrder(int height, bool interlaced)
{
    std::vector<int> rows;
    rows.reserve(size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    static constexpr int start[4] = {0, 4, 2, 1};
    static constexpr int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            rows.push_back(y);
    return rows;
}

} // namespace

QByteArray encodeGif(const GifDocument &doc, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return QByteArray();
    };
    if (error)
        error->clear();
    if (doc.frames.isEmpty())
        return fail(QStringLiteral("no frames"));

    QList<QImage> images;
    QRect bounds;
    for (const GifFrame &frame : doc.frames) {
        if (frame.image.isNull())
            return fail(QStringLiteral("a frame has no image"));
        if (frame.offset.x() < 0 || frame.offset.y() < 0)
            return fail(QStringLiteral("a frame lies left of or above the screen"));
        const QRect rect(frame.offset, frame.image.size());
        if (rect.right() > 0xffff || rect.bottom() > 0xffff)
            return fail(QStringLiteral("a frame is too large for a GIF"));
        bounds |= rect;
        images.append(frame.image.convertToFormat(QImage::Format_ARGB32));
    }
    // Without a screen size the frames decide it.
    const QSize screen = doc.screen.isEmpty() ? QSize(bounds.right() + 1, bounds.bottom() + 1) : doc.screen;
    if (screen.width() > 0xffff || screen.height() > 0xffff)
        return fail(QStringLiteral("screen too large for a GIF"));

    // The global table serves every frame without its own.
    Histogram globalHist;
    bool globalTransparent = false;
    for (int i = 0; i < doc.frames.size(); ++i) {
        if (!doc.frames[i].localPalette.isEmpty())
            continue;
        if (doc.globalPalette.isEmpty())
            globalTransparent |= addColours(images[i], globalHist);
        else
            globalTransparent |= hasTransparency(images[i]);
    }
    const Table global(doc.globalPalette.isEmpty() ? paletteFor(globalHist) : doc.globalPalette,
                       globalTransparent);
    const MapPtr globalMap = makeMap(global);
    if (!globalMap)
        return fail(QStringLiteral("out of memory"));

    QByteArray out;
    int code = 0;
    GifFileType *gif = EGifOpen(&out, appendOutput, &code);
    if (!gif)
        return fail(gifError(code));
    // Closing writes the trailer and frees the encoder, so it happens on
    // every path out.
    auto finish = [&](const QString &why) {
        int closeCode = 0;
        const bool closed = EGifCloseFile(gif, &closeCode) == GIF_OK;
        if (!why.isEmpty())
            return fail(why);
        if (!closed)
            return fail(gifError(closeCode));
        return out;
    };

    EGifSetGifVersion(gif, true);
    const int background = std::clamp(doc.backgroundIndex, 0, int(global.colours.size()) - 1);
    if (EGifPutScreenDesc(gif, screen.width(), screen.height(), 8, background, globalMap.get()) == GIF_ERROR)
        return finish(gifError(gif->Error));

    if (doc.loopCount >= 0) {
        const int loops = std::min(doc.loopCount, 0xffff);
        const GifByteType loop[3] = {1, GifByteType(loops & 0xff), GifByteType(loops >> 8)};
        if (EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR
            || EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_ERROR
            || EGifPutExtensionBlock(gif, 3, loop) == GIF_ERROR
            || EGifPutExtensionTrailer(gif) == GIF_ERROR)
            return finish(gifError(gif->Error));
    }

    for (int i = 0; i < doc.frames.size(); ++i) {
        const GifFrame &frame = doc.frames[i];
        const QImage &image = images[i];

        Table local;
        MapPtr localMap;
        if (!frame.localPalette.isEmpty()) {
            local = Table(frame.localPalette, hasTransparency(image));
            localMap = makeMap(local);
            if (!localMap)
                return finish(QStringLiteral("out of memory"));
        }
        const Table &table = localMap ? local : global;

        GraphicsControlBlock gcb{};
        gcb.DisposalMode = int(frame.disposal);
        gcb.UserInputFlag = false;
        gcb.DelayTime = std::clamp(frame.delayCs, 0, 0xffff);
        gcb.TransparentColor = table.transparent >= 0 ? table.transparent : NO_TRANSPARENT_COLOR;
        GifByteType gcbBytes[4];
        const size_t gcbLength = EGifGCBToExtension(&gcb, gcbBytes);
        if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(gcbLength), gcbBytes) == GIF_ERROR)
            return finish(gifError(gif->Error));

        // giflib forgets, without freeing, its copy of the previous frame's
        // local table when this frame has none.
        if (!localMap && gif->Image.ColorMap) {
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
        if (EGifPutImageDesc(gif, frame.offset.x(), frame.offset.y(), image.width(), image.height(),
                             frame.interlaced, localMap.get())
            == GIF_ERROR)
            return finish(gifError(gif->Error));

        // giflib writes lines in the order they are handed over, so an
        // interlaced frame gets its rows in interlace order from here.
        Mapper mapper(table);
        const int width = image.width();
        std::vector<GifPixelType> line(static_cast<size_t>(width));
        for (int y : rowOrder(image.height(), frame.interlaced)) {
            const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            // Drawings repeat a colour along a row, so a pixel like its left neighbour takes its index.
            for (int x = 0; x < width; ++x)
                line[size_t(x)] = x > 0 && row[x] == row[x - 1] ? line[size_t(x) - 1] : mapper.index(row[x]);
            if (EGifPutLine(gif, line.data(), width) == GIF_ERROR)
                return finish(gifError(gif->Error));
        }
    }
    return finish(QString());
}

QString writeGif(const QString &path, const GifDocument &doc)
{
    QString error;
    const QByteArray bytes = encodeGif(doc, &error);
    if (bytes.isEmpty())
        return error.isEmpty() ? QStringLiteral("nothing to write") : error;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(bytes);
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace anigif
