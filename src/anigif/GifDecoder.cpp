#include "anigif/GifDecoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
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

bool decodeGif(const QByteArray &data, DecodedGif *out, QString *error)
{
    *out = DecodedGif();
    auto fail = [&](const QString &why) {
        *out = DecodedGif();
        if (error)
            *error = why;
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
    if (frameBytes > MaxComposedBytes)
        return fail(QStringLiteral("GIF too large"));
    out->screen = QSize(width, height);

    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return fail(QStringLiteral("out of memory"));
    canvas.fill(Qt::transparent);

    // Each control block speaks for the next frame only; without one a frame
    // is opaque, kept, and shown for the default delay.
    const GraphicsControlBlock noControl{0, false, 0, NO_TRANSPARENT_COLOR};
    GraphicsControlBlock gcb = noControl;
    std::vector<GifPixelType> line;
    bool done = false;
    while (!done) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            out->truncated = true;
            break;
        }
        switch (type) {
        case EXTENSION_RECORD_TYPE: {
            int extCode = 0;
            GifByteType *block = nullptr;
            if (DGifGetExtension(gif.get(), &extCode, &block) == GIF_ERROR) {
                out->truncated = true;
                done = true;
                break;
            }
            if (extCode == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                DGifExtensionToGCB(4, block + 1, &gcb);
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    out->truncated = true;
                    done = true;
                    break;
                }
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
                out->truncated = true;
                done = true;
                break;
            }
            const GifImageDesc &desc = gif->Image;
            if (desc.Width <= 0 || desc.Height <= 0 || desc.Width > MaxGifSide || desc.Height > MaxGifSide)
                return fail(QStringLiteral("GIF frame size %1x%2 refused").arg(desc.Width).arg(desc.Height));
            if (frameBytes * (out->frames.size() + 1) > MaxComposedBytes)
                return fail(QStringLiteral("GIF too large"));

            const auto colours = lookup(desc.ColorMap ? desc.ColorMap : gif->SColorMap, gcb.TransparentColor);
            const bool hasTransparent = gcb.TransparentColor >= 0 && gcb.TransparentColor < 256;
            const QImage before = gcb.DisposalMode == DISPOSE_PREVIOUS ? canvas.copy() : QImage();

            // Only the part of the frame on the screen is drawn; the rest is
            // decoded and dropped.
            const QRect frameRect(desc.Left, desc.Top, desc.Width, desc.Height);
            const QRect visible = frameRect & canvas.rect();
            line.assign(size_t(desc.Width), 0);
            bool complete = true;
            for (int k = 0; k < desc.Height; ++k) {
                if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR) {
                    complete = false;
                    break;
                }
                const int y = desc.Top + (desc.Interlace ? interlacedRow(k, desc.Height) : k);
                if (visible.isEmpty() || y < visible.top() || y > visible.bottom())
                    continue;
                QRgb *row = reinterpret_cast<QRgb *>(canvas.scanLine(y));
                for (int x = visible.left(); x <= visible.right(); ++x) {
                    const GifPixelType index = line[size_t(x - desc.Left)];
                    if (hasTransparent && index == gcb.TransparentColor)
                        continue;
                    row[x] = colours[index];
                }
            }
            if (!complete) {
                out->truncated = true;
                done = true;
                break;
            }

            out->frames.append(canvas.copy());
            out->delaysMs.append(playedDelayMs(gcb.DelayTime));
            if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
                for (int y = visible.top(); y <= visible.bottom(); ++y)
                    std::fill_n(reinterpret_cast<QRgb *>(canvas.scanLine(y)) + visible.left(), visible.width(), 0);
            } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
                canvas = before;
            }
            gcb = noControl;
            break;
        }
        case TERMINATE_RECORD_TYPE:
            done = true;
            break;
        default:
            // An unknown record means the rest cannot be trusted.
            out->truncated = true;
            done = true;
            break;
        }
    }

    if (out->frames.isEmpty())
        return fail(QStringLiteral("GIF has no complete frame"));
    if (error)
        error->clear();
    return true;
}

} // namespace anigif
