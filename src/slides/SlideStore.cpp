#include "slides/SlideStore.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "slides/SlideSource.h"

namespace slides {

namespace {

// Copies the 346 rows of a slide, 1188 bytes each, between two strides (a
// negative one runs bottom-up).
void copyRows(char *dst, qsizetype dstStride, const char *src, qsizetype srcStride)
{
    for (int y = 0; y < SlideHeight; ++y)
        std::memcpy(dst + dstStride * y, src + srcStride * y, SlideStore::RowBytes);
}

// Level 1 for the keys that a large change forces: recording must stay quick.
constexpr int PackLevel = 1;

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

// The difference between two slides as runs: bytes to skip, then bytes to
// XOR in. Only what changed is written down, so that unpacking touches only
// the changed pixels and needs no buffer of a whole slide.
void encodeDifference(const char *now, const char *before, qsizetype n, QByteArray &out)
{
    // Equal stretches shorter than this stay inside a run: two counts cost more than a few zeros.
    constexpr qsizetype Gap = 16;
    out.resize(0);
    qsizetype pos = 0;
    for (;;) {
        qsizetype start = pos;
        while (start + 8 <= n && load8(now + start) == load8(before + start))
            start += 8;
        while (start < n && now[start] == before[start])
            ++start;
        if (start >= n)
            break;
        qsizetype last = start;
        for (qsizetype k = start + 1; k < n && k - last <= Gap; ++k)
            if (now[k] != before[k])
                last = k;
        const qsizetype end = last + 1;
        putCount(out, quint64(start - pos));
        putCount(out, quint64(end - start));
        const qsizetype at = out.size();
        out.resize(at + (end - start));
        xorInto(out.data() + at, now + start, before + start, end - start);
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

} // namespace

bool SlideStore::toRaw(const QImage &image, char *raw)
{
    if (image.width() != SlideWidth || image.height() != SlideHeight)
        return false;
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32) {
        // The capture's own format, done here to spare a converted copy per slide.
        for (int y = 0; y < SlideHeight; ++y) {
            const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            char *out = raw + qsizetype(y) * RowBytes;
            for (int x = 0; x < SlideWidth; ++x) {
                out[3 * x] = char(qBlue(in[x]));
                out[3 * x + 1] = char(qGreen(in[x]));
                out[3 * x + 2] = char(qRed(in[x]));
            }
        }
        return true;
    }
    const QImage bgr = image.format() == QImage::Format_BGR888 ? image
                                                                 : image.convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull())
        return false;
    copyRows(raw, RowBytes, reinterpret_cast<const char *>(bgr.constBits()), bgr.bytesPerLine());
    return true;
}

bool SlideStore::storePacked(const QByteArray &packed, Entry &e)
{
    // A slide equal to the one before is a difference of nothing: an empty entry.
    const qint64 size = packed.size();
    if (size < 0 || size > BlockBytes)
        return false;
    if (m_blocks.empty() || m_used + size > BlockBytes) {
        if (m_blocks.size() == m_blocks.capacity())
            m_blocks.reserve(std::max<size_t>(16, m_blocks.capacity() * 2));
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size_t(BlockBytes)));
        m_used = 0;
    }
    e.at = qint64(m_blocks.size() - 1) * BlockBytes + m_used;
    e.size = qint32(size);
    std::memcpy(m_blocks.back().get() + m_used, packed.constData(), size_t(size));
    m_used += size;
    return true;
}

const char *SlideStore::packedData(const Entry &e) const
{
    return m_blocks[size_t(e.at / BlockBytes)].get() + e.at % BlockBytes;
}

QByteArray SlideStore::unpack(const Entry &e) const
{
    if (!e.compressed)
        return QByteArray::fromRawData(packedData(e), e.size);
    return qUncompress(reinterpret_cast<const uchar *>(packedData(e)), e.size);
}

bool SlideStore::append(const QImage &image)
{
    try {
        if (m_raw.size() != RawBytes)
            m_raw.resize(RawBytes);
        if (m_prevRaw.size() != RawBytes)
            m_prevRaw.resize(RawBytes);
        if (!toRaw(image, m_raw.data()))
            return false;
        const char *raw = m_raw.constData();
        const int index = count();
        Entry entry{0, 0, index, false};
        QByteArray packed;
        const bool byCount = m_keyIndex < 0 || index - m_keyIndex >= KeyInterval;
        bool newKey = byCount;
        if (!newKey) {
            encodeDifference(raw, m_prevRaw.constData(), RawBytes, m_diff);
            // The runs hold only changed pixels and pack to little more than half:
            // kept as they are, a slide is read back without unpacking anything.
            packed = m_diff;
            entry.key = m_keyIndex;
            // A difference of more than a quarter of the slide (a pan, a new
            // background) is no saving, and costs reading time for the slides after it.
            newKey = packed.size() > RawBytes / 4;
        }
        if (newKey) {
            // Keys that come by the count are few and kept whole, so that reading
            // on through them costs a copy. A key forced by a large change is
            // packed: a pan changes everything slide after slide, and a run of
            // whole keys would eat memory.
            packed = byCount ? m_raw : qCompress(m_raw, PackLevel);
            entry.key = index;
            entry.compressed = !byCount;
        }
        if (newKey && packed.isEmpty())
            return false;
        if (m_byteLimit >= 0 && m_packedBytes + packed.size() > m_byteLimit)
            return false;
        if (m_entries.size() == m_entries.capacity())
            m_entries.reserve(std::max<size_t>(64, m_entries.capacity() * 2));
        if (!storePacked(packed, entry))
            return false;
        // Nothing below can throw: the room for the entry is reserved.
        m_entries.push_back(entry);
        m_packedBytes += entry.size;
        m_prevRaw.swap(m_raw);
        if (newKey) {
            m_keyIndex = index;
            ++m_keys;
        }
        return true;
    } catch (const std::bad_alloc &) {
        // Nothing is committed before the last steps, which cannot fail.
        return false;
    }
}

bool SlideStore::readRows(int i, char *first, qsizetype stride) const
{
    try {
        if (m_readRaw.size() != RawBytes)
            m_readRaw.resize(RawBytes);
    } catch (const std::bad_alloc &) {
        return false;
    }
    // The last slide read stays in m_readRaw, so that reading on from it is cheap.
    if (!readOnInto(i, m_readRaw.data(), RowBytes, m_readIndex))
        return false;
    copyRows(first, stride, m_readRaw.constData(), RowBytes);
    return true;
}

bool SlideStore::readOnInto(int i, char *first, qsizetype stride, int &held) const
{
    if (i < 1 || i > count())
        return false;
    const int target = i - 1;
    const int key = m_entries[size_t(target)].key;
    try {
        // Go on from the slide held when it lies between the key and this one.
        int at = held - 1;
        if (at < key || at > target) {
            held = 0;
            const QByteArray raw = unpack(m_entries[size_t(key)]);
            if (raw.size() != RawBytes)
                return false;
            copyRows(first, stride, raw.constData(), RowBytes);
            at = key;
        }
        while (at < target) {
            // Until the difference is in, the rows are neither slide.
            held = 0;
            if (!applyDifference(first, stride, unpack(m_entries[size_t(at + 1)])))
                return false;
            ++at;
        }
        held = target + 1;
        return true;
    } catch (const std::bad_alloc &) {
        held = 0;
        return false;
    }
}

QRect SlideStore::changedRect(int i) const
{
    const QRect whole(0, 0, SlideWidth, SlideHeight);
    if (i < 1 || i > count())
        return QRect();
    const Entry &e = m_entries[size_t(i - 1)];
    if (i == 1 || e.key == i - 1)
        return whole;
    // A difference is never packed, so its runs are read where they lie.
    const char *p = packedData(e);
    const char *end = p + e.size;
    constexpr qsizetype row = RowBytes;
    qsizetype pos = 0;
    qsizetype top = -1, bottom = -1, left = row, right = -1;
    while (p < end) {
        quint64 skip, len;
        if (!getCount(p, end, skip) || !getCount(p, end, len) || skip > quint64(RawBytes - pos)
            || len > quint64(RawBytes - pos - qsizetype(skip)) || len > quint64(end - p))
            return whole;
        pos += qsizetype(skip);
        if (len == 0)
            continue;
        const qsizetype first = pos, last = pos + qsizetype(len) - 1;
        if (top < 0)
            top = first / row;
        bottom = last / row;
        if (first / row != last / row) {
            // A run over a row's end touches both ends of the rows it spans.
            left = 0;
            right = row - 1;
        } else {
            left = std::min(left, first % row);
            right = std::max(right, last % row);
        }
        pos = last + 1;
        p += len;
    }
    if (top < 0)
        return QRect();
    return QRect(QPoint(int(left / 3), int(top)), QPoint(int(right / 3), int(bottom)));
}

QImage SlideStore::slide(int i) const
{
    if (i < 1 || i > count())
        return QImage();
    QImage out(SlideWidth, SlideHeight, QImage::Format_BGR888);
    if (out.isNull() || !readRows(i, reinterpret_cast<char *>(out.bits()), out.bytesPerLine()))
        return QImage();
    return out;
}

void SlideStore::clear()
{
    std::vector<Entry>().swap(m_entries);
    std::vector<std::unique_ptr<char[]>>().swap(m_blocks);
    m_used = 0;
    m_packedBytes = 0;
    m_keys = 0;
    m_raw = QByteArray();
    m_diff = QByteArray();
    m_prevRaw = QByteArray();
    m_keyIndex = -1;
    m_readRaw = QByteArray();
    m_readIndex = 0;
}

} // namespace slides
