#include "GifFrames.h"

#include <QFile>

#include <gif_lib.h>

#include <algorithm>

namespace testcommon {

GifInfo readGifFrames(const QString &path, const std::function<void(int, const QImage &, int)> &frame)
{
    GifInfo info;
    int code = 0;
    GifFileType *gif = DGifOpenFileName(QFile::encodeName(path).constData(), &code);
    if (!gif) {
        info.error = QString::fromLatin1(GifErrorString(code));
        return info;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        info.error = QString::fromLatin1(GifErrorString(gif->Error));
        DGifCloseFile(gif, &code);
        return info;
    }
    QImage canvas(gif->SWidth, gif->SHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage &image = gif->SavedImages[i];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, i, &gcb);
        for (int e = 0; e < image.ExtensionBlockCount; ++e) {
            const ExtensionBlock &b = image.ExtensionBlocks[e];
            if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11
                && QByteArray(reinterpret_cast<const char *>(b.Bytes), 11) == "NETSCAPE2.0" && e + 1 < image.ExtensionBlockCount
                && image.ExtensionBlocks[e + 1].ByteCount >= 3)
                info.loopCount = image.ExtensionBlocks[e + 1].Bytes[1] | image.ExtensionBlocks[e + 1].Bytes[2] << 8;
        }
        const ColorMapObject *map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        const GifImageDesc &d = image.ImageDesc;
        const QImage before = gcb.DisposalMode == DISPOSE_PREVIOUS ? canvas.copy() : QImage();
        for (int y = 0; y < d.Height; ++y) {
            if (d.Top + y >= canvas.height())
                break;
            auto *row = reinterpret_cast<QRgb *>(canvas.scanLine(d.Top + y));
            for (int x = 0; x < d.Width && d.Left + x < canvas.width(); ++x) {
                const int index = image.RasterBits[y * d.Width + x];
                if (index == gcb.TransparentColor || !map || index >= map->ColorCount)
                    continue;
                const GifColorType c = map->Colors[index];
                row[d.Left + x] = qRgb(c.Red, c.Green, c.Blue);
            }
        }
        ++info.frames;
        info.totalDelayCs += gcb.DelayTime;
        if (frame)
            frame(i + 1, canvas, gcb.DelayTime);
        if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
            for (int y = d.Top; y < std::min(d.Top + d.Height, canvas.height()); ++y)
                for (int x = d.Left; x < std::min(d.Left + d.Width, canvas.width()); ++x)
                    canvas.setPixel(x, y, qRgb(0, 0, 0));
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
            canvas = before;
        }
    }
    DGifCloseFile(gif, &code);
    return info;
}

} // namespace testcommon
