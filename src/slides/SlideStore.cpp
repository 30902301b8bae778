#include "slides/SlideStore.h"

#include <cstring>
#include <new>

#include "slides/SlideSource.h"

namespace slides {

namespace {

// Level 1: recording must stay quick, and most of a difference is zeros
// that any level packs well.
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

} // namespace

bool SlideStore::toRaw(const QImage &image, QByteArray &raw)
{
    if (image.width() != SlideWidth || image.height() != SlideHeight)
        return false;
    const QImage bgr = image.format() == QImage::Format_BGR888 ? image
                                                                 : image.convertToFormat(QImage::Format_BGR888);
    if (bgr.isNull())
        return false;
    raw.resize(RawBytes);
    char *out = raw.data();
    for (int y = 0; y < SlideHeight; ++y)
        std::memcpy(out + qsizetype(y) * RowBytes, bgr.constScanLine(y), RowBytes);
    return true;
}

bool SlideStore::append(const QImage &image)
{
    try {
        QByteArray raw;
        if (!toRaw(image, raw))
            return false;
        const int index = count();
        Entry entry{QByteArray(), index};
        bool newKey = m_keyIndex < 0;
        if (!newKey) {
            QByteArray diff(RawBytes, Qt::Uninitialized);
            xorInto(diff.data(), raw.constData(), m_keyRaw.constData(), RawBytes);
            entry.packed = qCompress(diff, PackLevel);
            entry.key = m_keyIndex;
            // When the scene has drifted so far from the key that the
            // difference packs to more than half the key, a new key is cheaper.
            const qsizetype keySize = m_entries[size_t(m_keyIndex)].packed.size();
            newKey = entry.packed.isEmpty() || entry.packed.size() * 2 > keySize;
        }
        if (newKey) {
            entry.packed = qCompress(raw, PackLevel);
            entry.key = index;
        }
        if (entry.packed.isEmpty())
            return false;
        if (m_byteLimit >= 0 && m_packedBytes + entry.packed.size() > m_byteLimit)
            return false;
        entry.packed.squeeze();
        m_entries.push_back(std::move(entry));
        m_packedBytes += m_entries.back().packed.size();
        if (newKey) {
            m_keyRaw = std::move(raw);
            m_keyIndex = index;
        }
        return true;
    } catch (const std::bad_alloc &) {
        // Nothing was committed before push_back, and push_back either adds or leaves the vector as it was.
        return false;
    }
}

bool SlideStore::decodeKey(int key) const
{
    if (m_readKeyIndex == key)
        return true;
    m_readKeyIndex = -1;
    m_readKeyRaw = qUncompress(m_entries[size_t(key)].packed);
    if (m_readKeyRaw.size() != RawBytes)
        return false;
    m_readKeyIndex = key;
    return true;
}

QImage SlideStore::slide(int i) const
{
    if (i < 1 || i > count())
        return QImage();
    try {
        const Entry &e = m_entries[size_t(i - 1)];
        if (!decodeKey(e.key))
            return QImage();
        QImage out(SlideWidth, SlideHeight, QImage::Format_BGR888);
        if (out.isNull())
            return QImage();
        const char *key = m_readKeyRaw.constData();
        if (e.key == i - 1) {
            for (int y = 0; y < SlideHeight; ++y)
                std::memcpy(out.scanLine(y), key + qsizetype(y) * RowBytes, RowBytes);
            return out;
        }
        const QByteArray diff = qUncompress(e.packed);
        if (diff.size() != RawBytes)
            return QImage();
        for (int y = 0; y < SlideHeight; ++y) {
            const qsizetype at = qsizetype(y) * RowBytes;
            xorInto(reinterpret_cast<char *>(out.scanLine(y)), diff.constData() + at, key + at, RowBytes);
        }
        return out;
    } catch (const std::bad_alloc &) {
        return QImage();
    }
}

void SlideStore::clear()
{
    std::vector<Entry>().swap(m_entries);
    m_packedBytes = 0;
    m_keyRaw = QByteArray();
    m_keyIndex = -1;
    m_readKeyRaw = QByteArray();
    m_readKeyIndex = -1;
}

} // namespace slides
