#pragma once
// The pixels of every recorded slide, kept compact and exact. A slide is
// held as 24-bit rows (blue, green, red, as a BMP file wants them); most
// slides are stored as the zlib-packed XOR against the latest key slide, so
// that a scene where only the characters move costs a few kilobytes per
// slide, and a new key is taken whenever the difference stops paying off.
// Reading slide i unpacks at most two blocks.

#include <QByteArray>
#include <QImage>

#include <vector>

namespace slides {

class SlideStore {
public:
    int count() const { return int(m_entries.size()); }

    // Adds a copy of `image` (any format, 396 x 346) as the newest slide.
    // False, with the store unchanged, when the image is of another size or
    // memory (or the byte limit) does not allow it.
    bool append(const QImage &image);

    // Slide i (1-based) as a Format_BGR888 image; null when i is out of range
    // or memory runs out.
    QImage slide(int i) const;

    void clear();

    // Bytes held by the packed slides.
    qint64 packedBytes() const { return m_packedBytes; }

    // Refuses slides once the packed slides would exceed `bytes` (< 0: no limit).
    void setByteLimit(qint64 bytes) { m_byteLimit = bytes; }

    static constexpr int RowBytes = 396 * 3;
    static constexpr int RawBytes = RowBytes * 346;

private:
    struct Entry {
        QByteArray packed;
        int key; // 0-based index of the key slide this one is XORed against; its own index for a key
    };

    static bool toRaw(const QImage &image, QByteArray &raw);
    bool decodeKey(int key) const;

    std::vector<Entry> m_entries;
    qint64 m_packedBytes = 0;
    qint64 m_byteLimit = -1;
    QByteArray m_keyRaw;       // unpacked pixels of the latest key, for the next append
    int m_keyIndex = -1;
    mutable QByteArray m_readKeyRaw; // the key that the last read unpacked: sequential reads reuse it
    mutable int m_readKeyIndex = -1;
};

} // namespace slides
