// The byte work under the slide store: a slide's rows converted and copied, the difference between two
// slides written as runs and applied, and the packed keys inflated with a bound.
#include "slides/SlidePacking.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <QSysInfo>
#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

namespace slides::packing {

// Copies the 346 rows of a slide, 1188 bytes each, between two strides (a
// negative one runs bottom-up).
void copyRows(char *dst, qsizetype dstStride, const char *src, qsizetype srcStride)
{
    for (int y = 0; y < SlideHeight; ++y)
        std::memcpy(dst + dstStride * y, src + srcStride * y, SlideStore::RowBytes);
}


// A packed key as qCompress writes it: the length, 4 bytes big-endian, then a zlib stream. It is
// inflated into exactly a slide's bytes, and one that claims or makes anything else is refused: a
// damaged or crafted journal must not make the program allocate without bound, as qUncompress does
// when it doubles its buffer for as long as the stream goes on.
QByteArray inflateKey(const char *data, qsizetype size)
{
    if (size < 4 || qFromBigEndian<quint32>(data) != quint32(SlideStore::RawBytes))
        return {};
    QByteArray raw(SlideStore::RawBytes, Qt::Uninitialized);
    uLongf made = uLongf(raw.size());
    uLong read = uLong(size - 4);
    if (::uncompress2(reinterpret_cast<Bytef *>(raw.data()), &made, reinterpret_cast<const Bytef *>(data + 4),
                      &read) != Z_OK ||
        made != uLongf(SlideStore::RawBytes))
        return {};
    return raw;
}

namespace {

void xorInto(char *dst, const char *a, const char *b, qsizetype n)
{
    // Word-wise; the row data has no alignment promise, so go through memcpy.
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(dst + i, &x, 8);
    }
    for (; i < n; ++i)
        dst[i] = char(a[i] ^ b[i]);
}

void putCount(QByteArray &out, quint64 v)
{
    while (v >= 0x80) {
        out.append(char(0x80 | (v & 0x7f)));
        v >>= 7;
    }
    out.append(char(v));
}

} // namespace

bool getCount(const char *&p, const char *end, quint64 &v)
{
    v = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
        const auto byte = quint8(*p++);
        v |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

quint64 load8(const char *p)
{
    quint64 v;
    std::memcpy(&v, p, 8);
    return v;
}

namespace {

// Where in memory the lowest and the highest byte of a word read by load8 that is not zero lie.
constexpr bool LittleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
int lowByte(quint64 x) { return int(LittleEndian ? qCountTrailingZeroBits(x) : qCountLeadingZeroBits(x)) / 8; }
int highByte(quint64 x) { return 7 - int(LittleEndian ? qCountLeadingZeroBits(x) : qCountTrailingZeroBits(x)) / 8; }

#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
// Which of the 16 bytes at `now` and `before` differ, one bit each, the lowest for the first byte.
unsigned differing16(const char *now, const char *before)
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(now));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(before));
    return ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0xffffu;
}
#endif

// The first byte at or after `pos` where the two differ; `n` when none does.
// Equal stretches, most of a slide, are passed 64 bytes at a time where the processor compares 16 bytes
// in one instruction, 32 otherwise.
qsizetype nextDifference(const char *now, const char *before, qsizetype pos, qsizetype n)
{
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
    for (; pos + 64 <= n; pos += 64) {
        const auto equal = [&](int at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(now + pos + at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(before + pos + at)));
        };
        const __m128i all = _mm_and_si128(_mm_and_si128(equal(0), equal(16)), _mm_and_si128(equal(32), equal(48)));
        if (_mm_movemask_epi8(all) == 0xffff)
            continue;
        for (int at = 0;; at += 16)
            if (const unsigned m = differing16(now + pos + at, before + pos + at))
                return pos + at + qCountTrailingZeroBits(m);
    }
#endif
    for (; pos + 32 <= n; pos += 32) {
        const quint64 x0 = load8(now + pos) ^ load8(before + pos);
        const quint64 x1 = load8(now + pos + 8) ^ load8(before + pos + 8);
        const quint64 x2 = load8(now + pos + 16) ^ load8(before + pos + 16);
        const quint64 x3 = load8(now + pos + 24) ^ load8(before + pos + 24);
        if ((x0 | x1 | x2 | x3) == 0)
            continue;
        if (x0)
            return pos + lowByte(x0);
        if (x1)
            return pos + 8 + lowByte(x1);
        if (x2)
            return pos + 16 + lowByte(x2);
        return pos + 24 + lowByte(x3);
    }
    for (; pos + 8 <= n; pos += 8)
        if (const quint64 x = load8(now + pos) ^ load8(before + pos))
            return pos + lowByte(x);
    while (pos < n && now[pos] == before[pos])
        ++pos;
    return pos;
}

// Goes on with a run through one row from column `from`: `last` is the run's last differing byte so far,
// counted from this row's start (negative when it lies in a row before). The run takes in every
// difference that follows the one before it within `gap` bytes. True when it ends in this row.
// Where the run ends depends only on the bytes, not on how many are looked at in one step.
bool extendRun(const char *now, const char *before, qsizetype from, qsizetype rowBytes, qsizetype &last,
               qsizetype gap)
{
    qsizetype p = from;
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
    // Differences inside 16 bytes lie closer than the gap: the first decides for them all.
    if (gap >= 16) {
        for (; p + 16 <= rowBytes; p += 16) {
            const unsigned m = differing16(now + p, before + p);
            if (m == 0) {
                if (p + 16 - last > gap)
                    return true;
                continue;
            }
            if (p + qCountTrailingZeroBits(m) - last > gap)
                return true;
            last = p + 31 - qCountLeadingZeroBits(m);
        }
    }
#endif
    for (; p + 8 <= rowBytes; p += 8) {
        const quint64 x = load8(now + p) ^ load8(before + p);
        if (x == 0) {
            if (p + 8 - last > gap)
                return true;
            continue;
        }
        // Differences inside one word lie closer than the gap: the first decides for them all.
        if (p + lowByte(x) - last > gap)
            return true;
        last = p + highByte(x);
    }
    for (; p < rowBytes; ++p) {
        if (p - last > gap)
            return true;
        if (now[p] != before[p])
            last = p;
    }
    return false;
}

} // namespace

// The difference between two slides as runs over their bytes taken row after row: bytes to skip, then
// bytes to XOR in. Only what changed is written down, so that unpacking touches only the changed pixels
// and needs no buffer of a whole slide. The rows of `now` lie `nowStride` bytes apart (negative for
// bottom-up rows, as a BMP file holds them); those of `before` back to back.
void encodeDifference(const char *now, qsizetype nowStride, const char *before, QByteArray &out)
{
    constexpr qsizetype Gap = DifferenceGap;
    static_assert(Gap >= 8, "differences inside one word must never split a run");
    constexpr qsizetype Row = SlideStore::RowBytes;
    constexpr qsizetype N = SlideStore::RawBytes;
    const auto nowRow = [now, nowStride](qsizetype y) { return now + nowStride * y; };
    // Rows that run bottom-up in memory defeat the processor's own prefetching, which follows rising
    // addresses: such a slide is read almost three times slower. The rows a little ahead are asked for
    // before they are needed.
    qsizetype asked = -1; // the last row asked for
    const auto ahead = [&](qsizetype y) {
        constexpr qsizetype Ahead = 2;
        if (nowStride == Row)
            return;
        while (asked < std::min<qsizetype>(y + Ahead, SlideHeight - 1)) {
            const char *row = nowRow(++asked);
            for (qsizetype b = 0; b < Row; b += 64)
                __builtin_prefetch(row + b);
        }
    };
    out.resize(0);
    qsizetype pos = 0; // where the last run ended
    for (;;) {
        qsizetype start = N;
        for (qsizetype y = pos / Row, c = pos % Row; y < SlideHeight; ++y, c = 0) {
            ahead(y);
            c = nextDifference(nowRow(y), before + y * Row, c, Row);
            if (c < Row) {
                start = y * Row + c;
                break;
            }
        }
        if (start >= N)
            break;
        qsizetype last = start;
        for (qsizetype y = start / Row, c = start % Row + 1; y < SlideHeight; ++y, c = 0) {
            ahead(y);
            qsizetype inRow = last - y * Row;
            const bool ended = extendRun(nowRow(y), before + y * Row, c, Row, inRow, Gap);
            last = y * Row + inRow;
            if (ended)
                break;
        }
        const qsizetype end = last + 1;
        putCount(out, quint64(start - pos));
        putCount(out, quint64(end - start));
        const qsizetype at = out.size();
        out.resize(at + (end - start));
        for (qsizetype p = start; p < end;) {
            const qsizetype column = p % Row;
            const qsizetype chunk = std::min(end - p, Row - column);
            xorInto(out.data() + at + (p - start), nowRow(p / Row) + column, before + p, chunk);
            p += chunk;
        }
        pos = end;
    }
}

// Applies a difference to a slide whose rows lie `stride` bytes apart from
// `first` (a negative stride for bottom-up rows); runs are split where rows end.
bool applyDifference(char *first, qsizetype stride, const QByteArray &runs)
{
    constexpr qsizetype n = SlideStore::RawBytes;
    constexpr qsizetype row = SlideStore::RowBytes;
    const char *p = runs.constData();
    const char *end = p + runs.size();
    qsizetype pos = 0;
    while (p < end) {
        quint64 skip, len;
        if (!getCount(p, end, skip) || !getCount(p, end, len))
            return false;
        if (skip > quint64(n - pos) || len > quint64(n - pos - qsizetype(skip)) || len > quint64(end - p))
            return false;
        pos += qsizetype(skip);
        for (qsizetype left = qsizetype(len); left > 0;) {
            const qsizetype column = pos % row;
            const qsizetype chunk = std::min(left, row - column);
            char *at = first + stride * (pos / row) + column;
            xorInto(at, at, p, chunk);
            pos += chunk;
            p += chunk;
            left -= chunk;
        }
    }
    return true;
}

namespace {

// Which colour bytes of four pixels differ, one bit per byte as the pixels lie in memory: blue, green,
// red, alpha, the order of a slide's bytes. The bits for alpha, which a slide does not keep, are never set.
unsigned differingColours4(const QRgb *now, const QRgb *before)
{
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(now));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(before));
    return ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0x7777u;
#else
    unsigned m = 0;
    for (int i = 0; i < 4; ++i) {
        const QRgb d = now[i] ^ before[i];
        m |= ((d & 0xffu ? 1u : 0u) | (d & 0xff00u ? 2u : 0u) | (d & 0xff0000u ? 4u : 0u)) << (4 * i);
    }
    return m;
#endif
}

// Which of `chunks` runs of sixteen pixels, back to back from `now` and `before`, differ in any byte: their
// numbers, rising, into `found`; returns how many. Most of a slide is passed here, 64 bytes of each picture
// in a few instructions. The picture before was drawn a recording ago and has mostly left the processor's
// caches: reading it in four places at once keeps more of it on the way, a third faster than one stream.
using Survey = qsizetype (*)(const QRgb *now, const QRgb *before, qsizetype chunks, quint32 *found);

template<typename Differ>
__attribute__((always_inline)) inline qsizetype survey(const QRgb *now, const QRgb *before, qsizetype chunks,
                                                        quint32 *found, Differ differ)
{
    const qsizetype quarter = chunks / 4;
    qsizetype count[4] = {0, 0, 0, 0};
    for (qsizetype i = 0; i < quarter; ++i)
        for (qsizetype j = 0; j < 4; ++j) {
            const qsizetype c = j * quarter + i;
            if (differ(now + 16 * c, before + 16 * c))
                found[j * quarter + count[j]++] = quint32(c);
        }
    for (qsizetype c = 4 * quarter; c < chunks; ++c)
        if (differ(now + 16 * c, before + 16 * c))
            found[3 * quarter + count[3]++] = quint32(c);
    qsizetype total = count[0];
    for (qsizetype j = 1; j < 4; ++j) {
        std::memmove(found + total, found + j * quarter, size_t(count[j]) * sizeof(quint32));
        total += count[j];
    }
    return total;
}

qsizetype surveyPlain(const QRgb *now, const QRgb *before, qsizetype chunks, quint32 *found)
{
    return survey(now, before, chunks, found, [](const QRgb *a, const QRgb *b) {
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
        const auto equal = [&](int at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + at)));
        };
        return _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(equal(0), equal(4)), _mm_and_si128(equal(8), equal(12)))) !=
               0xffff;
#else
        return std::memcmp(a, b, 16 * sizeof(QRgb)) != 0;
#endif
    });
}

#if defined(__x86_64__) && defined(__GNUC__)
struct DifferAvx2 {
    __attribute__((target("avx2"))) bool operator()(const QRgb *a, const QRgb *b) const
    {
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a));
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a + 8));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(b + 8));
        return _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a0, b0), _mm256_cmpeq_epi8(a1, b1))) != -1;
    }
};

// Built for AVX2 as a whole: the comparison above is inlined into the survey's loop only so.
__attribute__((target("avx2"), flatten)) qsizetype surveyAvx2(const QRgb *now, const QRgb *before, qsizetype chunks,
                                                              quint32 *found)
{
    return survey(now, before, chunks, found, DifferAvx2{});
}
#endif

// The runs of encodeDifference over the slides' bytes, told from their pixels: a run takes in every
// changed byte that follows the one before it within the gap. Four pixels are twelve of those bytes,
// closer than the gap, so the first and the last changed byte of four pixels decide for all of them.
bool pictureRuns(Survey survey, const QRgb *now, qsizetype nowStride, const QRgb *before, qsizetype beforeStride,
                 QByteArray &out, qsizetype limit)
{
    constexpr qsizetype Gap = DifferenceGap;
    static_assert(Gap >= 12, "differences inside four pixels must never split a run");
    static_assert(SlideWidth % 4 == 0, "rows are taken four pixels at a time");
    constexpr qsizetype Row = SlideStore::RowBytes;
    out.resize(0);
    qsizetype pos = 0, start = 0, last = -1;
    bool inRun = false;
    const auto endRun = [&] {
        const qsizetype end = last + 1;
        putCount(out, quint64(start - pos));
        putCount(out, quint64(end - start));
        const qsizetype at = out.size();
        if (at + (end - start) > limit)
            return false;
        out.resize(at + (end - start));
        char *o = out.data() + at;
        for (qsizetype p = start; p < end;) {
            const qsizetype y = p / Row, column = p % Row;
            const QRgb *n = now + y * nowStride, *b = before + y * beforeStride;
            const qsizetype stop = std::min(end - y * Row, Row);
            qsizetype x = column / 3, c = column;
            // The first pixel from the run's first byte, the whole ones, then the last one's first bytes.
            for (int channel = int(column % 3); channel < 3 && c < stop; ++channel, ++c)
                *o++ = char((n[x] ^ b[x]) >> (8 * channel));
            for (++x; c + 3 <= stop; ++x, c += 3, o += 3) {
                const QRgb d = n[x] ^ b[x];
                o[0] = char(d);
                o[1] = char(d >> 8);
                o[2] = char(d >> 16);
            }
            for (int channel = 0; c < stop; ++channel, ++c)
                *o++ = char((n[x] ^ b[x]) >> (8 * channel));
            p = y * Row + stop;
        }
        pos = end;
        inRun = false;
        return true;
    };
    // Four pixels from x with changed bytes `m`.
    const auto take = [&](qsizetype rowAt, qsizetype x, unsigned m) {
        const int low = int(qCountTrailingZeroBits(m)), high = 31 - int(qCountLeadingZeroBits(m));
        const qsizetype first = rowAt + 3 * (x + low / 4) + low % 4;
        if (inRun && first - last > Gap && !endRun())
            return false;
        if (!inRun) {
            start = first;
            inRun = true;
        }
        last = rowAt + 3 * (x + high / 4) + high % 4;
        return true;
    };
    // Four pixels from `at`, counted through the rows as they lie.
    const auto block = [&](qsizetype at, qsizetype stride, const QRgb *n, const QRgb *b) {
        const qsizetype y = at / SlideWidth, x = at % SlideWidth;
        const unsigned four = differingColours4(n + y * stride + x, b + y * stride + x);
        return !four || take(y * Row, x, four);
    };
    thread_local std::vector<quint32> found;
    if (nowStride == SlideWidth && beforeStride == SlideWidth) {
        // Rows back to back, as a capture's are: the whole slide is surveyed at once.
        constexpr qsizetype Pixels = qsizetype(SlideWidth) * SlideHeight;
        found.resize(Pixels / 16);
        const qsizetype n = survey(now, before, Pixels / 16, found.data());
        for (qsizetype i = 0; i < n; ++i)
            for (qsizetype at = qsizetype(found[size_t(i)]) * 16, to = at + 16; at < to; at += 4)
                if (!block(at, SlideWidth, now, before))
                    return false;
        for (qsizetype at = Pixels - Pixels % 16; at < Pixels; at += 4)
            if (!block(at, SlideWidth, now, before))
                return false;
    } else {
        found.resize(SlideWidth / 16);
        for (qsizetype y = 0; y < SlideHeight; ++y) {
            const QRgb *n = now + y * nowStride, *b = before + y * beforeStride;
            const qsizetype rowAt = y * Row, chunks = survey(n, b, SlideWidth / 16, found.data());
            for (qsizetype i = 0; i < chunks; ++i)
                for (qsizetype x = qsizetype(found[size_t(i)]) * 16, to = x + 16; x < to; x += 4)
                    if (const unsigned four = differingColours4(n + x, b + x); four && !take(rowAt, x, four))
                        return false;
            for (qsizetype x = SlideWidth - SlideWidth % 16; x < SlideWidth; x += 4)
                if (const unsigned four = differingColours4(n + x, b + x); four && !take(rowAt, x, four))
                    return false;
        }
    }
    return !inRun || endRun();
}

} // namespace

bool encodePictureDifference(const QRgb *now, qsizetype nowStride, const QRgb *before, qsizetype beforeStride,
                             QByteArray &out, qsizetype limit)
{
#if defined(__x86_64__) && defined(__GNUC__)
    static const Survey survey = __builtin_cpu_supports("avx2") ? surveyAvx2 : surveyPlain;
#else
    constexpr Survey survey = surveyPlain;
#endif
    return pictureRuns(survey, now, nowStride, before, beforeStride, out, limit);
}

// Four pixels at a time with one byte shuffle where the processor has it (every x86-64 since about
// 2008): the row's conversion is most of what keeping a recorded slide costs.
#if defined(__x86_64__) && defined(__GNUC__)
bool canShuffle()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Converts the row's pixels but its last few (whose 16-byte store would pass the row's end); returns
// how many it did.
__attribute__((target("ssse3"))) int dropAlphaShuffled(const QRgb *in, char *out)
{
    const __m128i order = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    for (; x + 6 <= SlideWidth; x += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 3 * x), _mm_shuffle_epi8(four, order));
    }
    return x;
}
#else
bool canShuffle() { return false; }
int dropAlphaShuffled(const QRgb *, char *) { return 0; }
#endif


} // namespace slides::packing
