#pragma once
// Reads a GIF from memory into composed frames, the way web browsers show
// them: the canvas starts transparent, disposal "background" clears to
// transparent, and "previous" restores what lay under the frame.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

namespace anigif {

struct DecodedGif {
    QSize screen;
    QList<QImage> frames;      // ARGB32 premultiplied, screen-sized
    QList<int> delaysMs;
    bool truncated = false;    // the data ended early; the frames before are complete
};

// Largest logical screen side and total size of all composed frames that
// are accepted; anything beyond is treated as a broken or hostile file.
constexpr int MaxGifSide = 16384;
constexpr qint64 MaxComposedBytes = qint64(256) << 20;

// Fills `out` and returns true when at least one whole frame could be read.
bool decodeGif(const QByteArray &data, DecodedGif *out, QString *error = nullptr);

// Browsers play delays of 0 and 1 hundredth as 100 ms, so GIFs made for
// them rely on it.
int playedDelayMs(int delayCs);

} // namespace anigif
