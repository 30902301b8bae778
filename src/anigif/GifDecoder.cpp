#include "anigif/GifDecoder.h"

#include <gif_lib.h>

#include "files/AssetFile.h"
#include "files/Deadline.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace anigif {

namespace {

struct Source {
    const QByteArray &data;
    qsizetype pos = 0;
};

// giflib treats a short read as the end of the data, which is how a cut-off
// file shows up below.
int readFromBuffer(GifFileType *gif, GifByteType *buffer, int length)
{
    auto *source = static_cast<Source *>(gif->UserData);
    const qsizetype available = source->data.size() - source->pos;
    const int n = int(std::clamp<qsizetype>(available, 0, length));
    if (n > 0)
        std::memcpy(buffer, source->data.constData() + source->pos, size_t(n));
    source->pos += n;
    return n;
}

struct GifCloser {
    void operator()(GifFileType *gif) const
    {
        int code = 0;
        DGifCloseFile(gif, &code);
    }
};

// The transparent index is kept out of the lookup as 0, and indexes past the
// end of a short colour table come out black, as browsers pad them.
std::array<QRgb, 256> lookup(const ColorMapObject *map, int transparent)
{
    std::array<QRgb, 256> colours;
    colours.fill(qRgb(0, 0, 0));
    if (map && map->Colors) {
        const int n = std::min(map->ColorCount, 256);
        for (int i = 0; i < n; ++i)
            colours[size_t(i)] = qRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue);
    }
    if (transparent >= 0 && transparent < 256)
        colours[size_t(transparent)] = 0;
    return colours;
}

int interlacedRow(int k, int height)
{
    static constexpr int start[4] = {0, 4, 2, 1};
    static constexpr int step[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows = start[pass] < height ? (height - start[pass] + step[pass] - 1) / step[pass] : 0;
        if (k < rows)
            return start[pass] + k * step[pass];
        k -= rows;
    }
    return -1;
}

} // namespace

int playedDelayMs(int delayCs)
{
    return delayCs <= 1 ? 100 : delayCs * 10;
}

namespace {

// What the decoder holds besides the frames' pixels: giflib's record of each
// frame with its colour table, and the frame's image header.
constexpr qint64 FrameOverheadBytes = 1024;

// Keeps the decoder's memory and work within their limits.
class Budget {
public:
    explicit Budget(qint64 canvasPixels) : m_canvasPixels(canvasPixels) {}

    bool take(qint64 bytes)
    {
        if (bytes < 0 || m_bytes + bytes > MaxComposedBytes)
            return false;
        m_bytes += bytes;
        return true;
    }
    void give(qint64 bytes) { m_bytes -= bytes; }

    // May `pixels` more be decoded, with `frames` frames read so far?
    bool mayDecode(qint64 pixels, qsizetype frames) const
    {
        const qint64 allowance =
            std::min(MaxDecodedPixels, DecodedPixelsSlack + 2 * m_canvasPixels * (qint64(frames) + 1));
        return m_decoded + pixels <= allowance;
    }
    void decoded(qint64 pixels) { m_decoded += pixels; }

private:
    qint64 m_canvasPixels;
    qint64 m_bytes = 0;
    qint64 m_decoded = 0;
};

// Reads the rest of a frame's compressed data without decoding it.
bool skipImageData(GifFileType *gif, bool started)
{
    GifByteType *block = nullptr;
    if (!started) {
        int codeSize = 0;
        if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR)
            return false;
    } else if (DGifGetCodeNext(gif, &block) == GIF_ERROR) {
        return false;
    }
    while (block) {
        if (DGifGetCodeNext(gif, &block) == GIF_ERROR)
            return false;
    }
    return true;
}

// Rows of the frame, in the order they are stored, that must be decoded to
// reach every row on the canvas: all of them for an interlaced frame, whose
// last pass fills the odd rows.
int rowsToDecode(const GifImageDesc &desc, const QRect &visible)
{
    if (visible.isEmpty())
        return 0;
    return desc.Interlace ? desc.Height : visible.bottom() - desc.Top + 1;
}

} // namespace

namespace {

bool decodeGifUnguarded(const QByteArray &data, DecodedGif *out, QString *error)
{
    *out = DecodedGif();
    auto fail = [&](const QString &why) {
        *out = DecodedGif();
        if (error)
            *error = why;
        return false;
    };
    auto outOfMemory = [&] {
        fail(QStringLiteral("out of memory"));
        out->outOfMemory = true;
        return false;
    };

    Source source{data};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, readFromBuffer, &code));
    if (!gif)
        return fail(QString::fromLatin1(GifErrorString(code) ? GifErrorString(code) : "not a GIF"));

    const int width = gif->SWidth, height = gif->SHeight;
    if (width <= 0 || height <= 0 || width > MaxGifSide || height > MaxGifSide)
        return fail(QStringLiteral("GIF screen size %1x%2 refused").arg(width).arg(height));
    const qint64 frameBytes = qint64(width) * height * 4;
    Budget budget(qint64(width) * height);
    // The canvas and at least one composed frame must fit.
    if (frameBytes * 2 > MaxComposedBytes || !budget.take(frameBytes))
        return fail(QStringLiteral("GIF too large"));
    out->screen = QSize(width, height);

    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return outOfMemory();
    canvas.fill(Qt::transparent);

    // Each control block speaks for the next frame only; without one a frame
    // is opaque, kept, and shown for the default delay.
    const GraphicsControlBlock noControl{0, false, 0, NO_TRANSPARENT_COLOR};
    GraphicsControlBlock gcb = noControl;
    std::vector<GifPixelType> line;
    bool done = false;
    // Ends the reading where the data or the limits end; the frames so far stay.
    auto cutOff = [&] {
        out->truncated = true;
        done = true;
    };
    while (!done) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            cutOff();
            break;
        }
        switch (type) {
        case EXTENSION_RECORD_TYPE: {
            int extCode = 0;
            GifByteType *block = nullptr;
            if (DGifGetExtension(gif.get(), &extCode, &block) == GIF_ERROR) {
                cutOff();
                break;
            }
            if (extCode == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                DGifExtensionToGCB(4, block + 1, &gcb);
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    cutOff();
                    break;
                }
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (out->frames.size() >= MaxGifFrames) {
                cutOff();
                break;
            }
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                cutOff();
                break;
            }
            const GifImageDesc &desc = gif->Image;
            if (desc.Width <= 0 || desc.Height <= 0 || desc.Width > MaxGifSide || desc.Height > MaxGifSide)
                return fail(QStringLiteral("GIF frame size %1x%2 refused").arg(desc.Width).arg(desc.Height));

            // Only the part of the frame on the canvas is drawn. Rows below
            // the canvas are not decoded, nor is a frame wholly outside it.
            const QRect frameRect(desc.Left, desc.Top, desc.Width, desc.Height);
            const QRect visible = frameRect & canvas.rect();
            const int rows = rowsToDecode(desc, visible);
            const qint64 work = qint64(desc.Width) * rows;
            if (!budget.mayDecode(work, out->frames.size())) {
                cutOff();
                break;
            }
            // A frame off the canvas leaves it as it was: nothing to restore.
            const bool restore = gcb.DisposalMode == DISPOSE_PREVIOUS && rows > 0;
            const qint64 lineBytes = rows > 0 ? desc.Width : 0;
            const qint64 frameCost = frameBytes + FrameOverheadBytes;
            const qint64 transient = (restore ? frameBytes : 0) + lineBytes;
            if (!budget.take(frameCost + transient))
                return fail(QStringLiteral("GIF too large"));

            const auto colours = lookup(desc.ColorMap ? desc.ColorMap : gif->SColorMap, gcb.TransparentColor);
            const bool hasTransparent = gcb.TransparentColor >= 0 && gcb.TransparentColor < 256;
            const QImage before = restore ? canvas.copy() : QImage();
            if (restore && before.isNull())
                return outOfMemory();

            bool complete = true;
            if (rows == 0) {
                complete = skipImageData(gif.get(), false);
            } else {
                line.assign(size_t(desc.Width), 0);
                budget.decoded(work);
                out->decodedPixels += work;
                for (int k = 0; k < rows; ++k) {
                    if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) {
                        complete = false;
                        break;
                    }
                    const int y = desc.Top + (desc.Interlace ? interlacedRow(k, desc.Height) : k);
                    if (y < visible.top() || y > visible.bottom())
                        continue;
                    QRgb *row = reinterpret_cast<QRgb *>(canvas.scanLine(y));
                    for (int x = visible.left(); x <= visible.right(); ++x) {
                        const GifPixelType index = line[size_t(x - desc.Left)];
                        if (hasTransparent && index == gcb.TransparentColor)
                            continue;
                        row[x] = colours[index];
                    }
                }
                // giflib reads past the frame itself after its last row only.
                if (complete && rows < desc.Height)
                    complete = skipImageData(gif.get(), true);
                line.clear();
                line.shrink_to_fit();
            }
            if (!complete) {
                budget.give(frameCost + transient);
                cutOff();
                break;
            }

            const QImage composed = canvas.copy();
            if (composed.isNull())
                return outOfMemory();
            out->frames.append(composed);
            out->delaysMs.append(playedDelayMs(gcb.DelayTime));
            if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
                for (int y = visible.top(); y <= visible.bottom(); ++y)
                    std::fill_n(reinterpret_cast<QRgb *>(canvas.scanLine(y)) + visible.left(), visible.width(), 0);
            } else if (restore) {
                canvas = before;
            }
            budget.give(transient);
            gcb = noControl;
            break;
        }
        case TERMINATE_RECORD_TYPE:
            done = true;
            break;
        default:
            // An unknown record means the rest cannot be trusted.
            cutOff();
            break;
        }
    }

    if (out->frames.isEmpty())
        return fail(QStringLiteral("GIF has no complete frame"));
    if (error)
        error->clear();
    return true;
}

} // namespace

bool decodeGif(const QByteArray &data, DecodedGif *out, QString *error)
{
    try {
        return decodeGifUnguarded(data, out, error);
    } catch (const std::bad_alloc &) {
        *out = DecodedGif();
        out->outOfMemory = true;
        if (error)
            *error = QStringLiteral("out of memory");
        return false;
    }
}

GifLoad loadGifFile(const QString &path, DecodedGif *out)
{
    *out = DecodedGif();
    struct Result {
        GifLoad status = GifLoad::Refused;
        DecodedGif gif;
    };
    auto work = [path]() -> Result {
        Result r;
        files::FileData file = files::readAsset(path);
        if (!file.ok())
            return r;
        if (decodeGif(file.bytes, &r.gif))
            r.status = GifLoad::Ok;
        else if (!r.gif.outOfMemory)
            r.status = GifLoad::Undecodable;
        // An undecodable file still makes an (empty) character, and a saved scene keeps it as it came.
        if (r.status != GifLoad::Refused)
            r.gif.source = file.bytes;
        return r;
    };
    // The program's own pictures are in memory already and are trusted.
    const bool resource = path.startsWith(QLatin1Char(':'));
    std::optional<Result> r = resource ? std::optional<Result>(work()) : files::runWithDeadline<Result>(work);
    if (!r)
        return GifLoad::Refused;
    *out = std::move(r->gif);
    return r->status;
}

} // namespace anigif
