#pragma once
// The byte work under the slide store: a slide's rows converted and copied,
// the difference between two slides written as runs and applied, and the
// packed keys inflated with a bound. Rows are SlideStore::RowBytes long.

#include <QByteArray>
#include <QRgb>

namespace slides::packing {

// Level 1 for the keys that a large change forces: recording must stay quick.
constexpr int PackLevel = 1;

// Copies the rows of a slide between two strides (a negative one runs bottom-up).
void copyRows(char *dst, qsizetype dstStride, const char *src, qsizetype srcStride);

// A packed key as qCompress writes it, inflated into exactly a slide's bytes; empty when it claims or
// makes anything else.
QByteArray inflateKey(const char *data, qsizetype size);

// A count of the runs' form, read from p on (p moves past it); false past `end`.
bool getCount(const char *&p, const char *end, quint64 &v);

// Eight bytes from anywhere, in memory order.
quint64 load8(const char *p);

// The difference between two slides as runs over their bytes taken row after row: bytes to skip, then
// bytes to XOR in. The rows of `now` lie `nowStride` bytes apart; those of `before` back to back.
void encodeDifference(const char *now, qsizetype nowStride, const char *before, QByteArray &out);
// Equal stretches shorter than this stay inside a run: two counts cost more than a few zeros.
constexpr qsizetype DifferenceGap = 16;
// The same runs told from two slides' 32-bit pixels (RGB32 or ARGB32, rows `nowStride` and
// `beforeStride` pixels apart, alpha ignored as the slide's bytes drop it), without converting either:
// a recording compares its picture with the one before. False, with `out` unfinished, once the runs
// would pass `limit` bytes.
bool encodePictureDifference(const QRgb *now, qsizetype nowStride, const QRgb *before, qsizetype beforeStride,
                             QByteArray &out, qsizetype limit);
// Applies such a difference to a slide whose rows lie `stride` bytes apart; false when the runs are damaged.
bool applyDifference(char *first, qsizetype stride, const QByteArray &runs);

// Whether dropAlphaShuffled may run on this processor.
bool canShuffle();
// Converts a row of 32-bit pixels to the file's three bytes each, all but its last few pixels; returns
// how many it did.
int dropAlphaShuffled(const QRgb *in, char *out);

} // namespace slides::packing
