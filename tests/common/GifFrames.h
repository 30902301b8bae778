#pragma once
// Plays a GIF file through giflib frame by frame, composing each frame onto
// the canvas as a browser does (disposal, transparency), without holding
// more than one composed frame: for checking exported cartoons of any length.

#include <QImage>
#include <QString>

#include <functional>

namespace testcommon {

struct GifInfo {
    int frames = 0;
    int loopCount = -1;    // from NETSCAPE2.0; -1 when absent, 0 = for ever
    qint64 totalDelayCs = 0;
    QString error;
};

// Calls `frame(i, image, delayCs)` for every frame (i from 1); `image` is
// RGB32 and the canvas starts black. Returns what was read.
GifInfo readGifFrames(const QString &path, const std::function<void(int, const QImage &, int)> &frame = {});

} // namespace testcommon
