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
    bool truncated = false;    // the data ended early or the work limit was reached; the frames before are complete
    bool outOfMemory = false;  // on failure: memory ran out, the file itself may be sound
    qint64 decodedPixels = 0;  // pixels taken out of the compressed data: the work done
    QByteArray source;         // the file's bytes as read, kept so that a saved scene carries the picture itself
};

// Largest logical screen or frame side accepted.
constexpr int MaxGifSide = 16384;
// Memory the decoder may hold at once: the canvas it composes on, the copy
// that disposal "previous" restores, and every composed frame. A GIF that
// needs more is refused before the allocation that would pass the limit.
constexpr qint64 MaxComposedBytes = qint64(256) << 20;
// Frames kept at most; the control counts its frames in 16 bits.
constexpr int MaxGifFrames = 32767;
// Work limit, in pixels taken out of the compressed data. A frame costs its
// width times the rows decoded (only rows down to the last one on the
// canvas are), so a well-formed GIF costs at most its canvas area per
// frame. Decoding may use twice the canvas area per frame read so far plus
// a small allowance, never more than MaxDecodedPixels in all; where a frame
// would pass that, decoding ends as if the file were cut off there.
constexpr qint64 DecodedPixelsSlack = qint64(1) << 22;
constexpr qint64 MaxDecodedPixels = qint64(1) << 28;

// Fills `out` and returns true when at least one whole frame could be read.
// Frames are drawn clipped to the canvas; a frame wholly outside it is kept
// as a frame (it shows the canvas unchanged for its delay) without its
// pixels being decoded.
bool decodeGif(const QByteArray &data, DecodedGif *out, QString *error = nullptr);

// How a GIF file was taken in.
enum class GifLoad {
    Ok,
    Undecodable,   // read, but not a GIF with a whole frame
    Refused,       // not a regular file, too large, out of memory, or it did not answer in time
};

// Reads and decodes the GIF at `path` (a file path or a Qt resource path).
// A file is read and decoded on a thread of its own, and the caller waits
// for it no longer than files::AssetTimeoutMs; see files::runWithDeadline.
GifLoad loadGifFile(const QString &path, DecodedGif *out);

// Browsers play delays of 0 and 1 hundredth as 100 ms, so GIFs made for
// them rely on it.
int playedDelayMs(int delayCs);

} // namespace anigif
