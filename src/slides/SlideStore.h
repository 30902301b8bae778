#pragma once
// The pixels of every recorded slide, kept compact and exact. A slide is
// held as 24-bit rows (blue, green, red, as a BMP file wants them); most
// slides are stored as runs of the bytes that changed since the slide
// before, XORed, so that a scene where only the characters move costs a few
// kilobytes per slide and reading on applies them where they lie, without
// unpacking anything. A whole key slide is kept every KeyInterval slides,
// and a zlib-packed one whenever the difference stops paying off, so that
// reading any slide takes one key and at most KeyInterval - 1 differences.

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <memory>
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

    // Unpacks slide i straight into 346 rows of 1188 bytes that lie `stride`
    // bytes apart from `first` (a negative stride writes bottom-up, as BMP
    // files hold their rows). False when i is out of range or memory runs out.
    bool readRows(int i, char *first, qsizetype stride) const;

    int keyCount() const { return m_keys; }

    // Unpacks slide i into 346 rows of 1188 bytes `stride` bytes apart from
    // `first`, which hold slide `held` (0: nothing yet). Reading the slides in
    // order applies each one's difference where it lies, touching only the
    // pixels that changed. `held` is i afterwards, 0 when it failed.
    bool readOnInto(int i, char *first, qsizetype stride, int &held) const;

    // The pixels (x, y in slide pixels) outside which slide i equals slide
    // i - 1, read from the runs the store already holds: empty when the two
    // are equal, the whole slide for the first slide and for a key slide,
    // whose change was not written down. Never smaller than the change.
    QRect changedRect(int i) const;

    void clear();

    // Bytes held by the packed slides.
    qint64 packedBytes() const { return m_packedBytes; }

    // Refuses slides once the packed slides would exceed `bytes` (< 0: no limit).
    void setByteLimit(qint64 bytes) { m_byteLimit = bytes; }

    static constexpr int RowBytes = 396 * 3;
    static constexpr int RawBytes = RowBytes * 346;
    static constexpr int KeyInterval = 128;

private:
    struct Entry {
        qint64 at;   // where the packed bytes start in the pool
        qint32 size;
        qint32 key;  // 0-based index of the key slide this one is XORed against; its own index for a key
        bool compressed; // keys are; differences are kept as their runs, which pack poorly
    };

    static bool toRaw(const QImage &image, char *raw);
    QByteArray unpack(const Entry &e) const;
    const char *packedData(const Entry &e) const;
    bool storePacked(const QByteArray &packed, Entry &e);

    // The packed slides lie back to back in large blocks: thousands of small
    // allocations of odd sizes would leave the heap full of holes that the
    // process keeps resident.
    static constexpr qint64 BlockBytes = 8 << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    qint64 m_used = 0; // bytes taken in the last block

    std::vector<Entry> m_entries;
    qint64 m_packedBytes = 0;
    int m_keys = 0;
    qint64 m_byteLimit = -1;
    // Kept from append to append: allocating and freeing three buffers of
    // 400 KB per slide would hand the pages back to the system and fault them in again.
    QByteArray m_raw;
    QByteArray m_diff;         // the runs of the newest difference, before packing
    QByteArray m_prevRaw;      // pixels of the newest slide, that the next one is told against
    int m_keyIndex = -1;       // the newest key slide
    mutable QByteArray m_readRaw; // the slide that the last read unpacked: reading on from it is cheap
    mutable int m_readIndex = 0;
};

} // namespace slides
