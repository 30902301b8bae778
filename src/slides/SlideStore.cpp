#include "slides/SlideStore.h"

#include <QCryptographicHash>
#include <QThreadPool>

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "slides/SlidePacking.h"
#include "slides/SlideSource.h"

namespace slides {

using namespace packing;

quint64 SlideStore::nextSerial()
{
    // Shared by every store, so that no two slides' bytes ever bear one number, whatever store they went to.
    static std::atomic<quint64> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

SlideStore::SlideStore(const SlideStore &other)
    : m_blocks(other.m_blocks),
      // The last block is shared: what the original adds goes on in it, so the copy starts a block of its own.
      m_used(BlockBytes),
      m_entries(other.m_entries),
      m_packedBytes(other.m_packedBytes),
      m_keys(other.m_keys),
      m_extraFrames(other.m_extraFrames),
      m_byteLimit(other.m_byteLimit),
      m_garbage(other.m_garbage),
      m_prevRaw(other.m_prevRaw),
      m_prevValid(other.m_prevValid),
      m_prevPicture(other.m_prevPicture),
      m_prevRawBehind(other.m_prevRawBehind)
{
}

SlideStore &SlideStore::operator=(const SlideStore &other)
{
    if (this != &other) {
        SlideStore copy(other);
        swap(copy);
    }
    return *this;
}

quint64 SlideStore::serial(int i) const
{
    return i < 1 || i > count() ? 0 : m_entries[size_t(i - 1)].serial;
}

bool SlideStore::setDuration(int i, int frames)
{
    if (i < 1 || i > count() || frames < 1 || frames > MaxDuration)
        return false;
    Entry &e = m_entries[size_t(i - 1)];
    if (e.duration != frames) {
        m_extraFrames += frames - e.duration;
        e.duration = quint8(frames);
        // What a save holds of this slide no longer says all of it.
        e.serial = nextSerial();
    }
    return true;
}

bool SlideStore::setSound(int i, SlideSound sound)
{
    if (i < 1 || i > count())
        return false;
    sound.volume = quint8(std::min<int>(sound.volume, SlideSound::MaxVolume));
    m_entries[size_t(i - 1)].sound = std::move(sound);
    return true;
}

bool SlideStore::hasSounds() const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [](const Entry &e) { return bool(e.sound); });
}

std::shared_ptr<const SoundClip> SoundClip::make(QByteArray bytes, QString name)
{
    auto clip = std::make_shared<SoundClip>();
    clip->hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    clip->bytes = std::move(bytes);
    clip->name = std::move(name);
    return clip;
}

qint64 SlideStore::totalFrames() const
{
    return count() + m_extraFrames;
}

quint64 SlideStore::check(int i) const
{
    return i < 1 || i > count() ? 0 : m_entries[size_t(i - 1)].check;
}

quint64 SlideStore::checksum(QByteArrayView bytes, quint64 start)
{
    // Large odd multipliers that spread every input bit over the whole word.
    constexpr quint64 Spread = 0x9E3779B185EBCA87ull, Scatter = 0xC2B2AE3D27D4EB4Full,
                      Settle = 0x165667B19E3779F9ull;
    const auto rotl = [](quint64 x, int r) { return (x << r) | (x >> (64 - r)); };
    const auto mixWord = [rotl](quint64 sum, quint64 word) { return rotl(sum + word * Scatter, 31) * Spread; };
    const auto word = [](const char *at) { return qFromLittleEndian(load8(at)); };
    const char *p = bytes.data();
    const qsizetype size = bytes.size();
    // Lanes held apart, so that the compiler keeps each in a register.
    quint64 a = start + Spread + Scatter, b = start + Scatter, c = start, d = start - Spread;
    qsizetype at = 0;
    for (; at + 32 <= size; at += 32) {
        a = mixWord(a, word(p + at));
        b = mixWord(b, word(p + at + 8));
        c = mixWord(c, word(p + at + 16));
        d = mixWord(d, word(p + at + 24));
    }
    quint64 sum = rotl(a, 1) + rotl(b, 7) + rotl(c, 12) + rotl(d, 18) + quint64(size);
    for (; at + 8 <= size; at += 8)
        sum = rotl(sum ^ mixWord(0, word(p + at)), 27) * Spread + Settle;
    for (; at < size; ++at)
        sum = rotl(sum ^ (quint64(quint8(p[at])) * Settle), 11) * Spread;
    sum ^= sum >> 33;
    sum *= Scatter;
    sum ^= sum >> 29;
    sum *= Settle;
    return sum ^ (sum >> 32);
}


bool SlideStore::toRaw(const QImage &image, char *raw)
{
    if (image.width() != SlideWidth || image.height() != SlideHeight)
        return false;
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32) {
        // The capture's own format, done here to spare a converted copy per slide.
        const bool shuffle = canShuffle();
        for (int y = 0; y < SlideHeight; ++y) {
            const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            char *out = raw + qsizetype(y) * RowBytes;
            const int done = shuffle ? dropAlphaShuffled(in, out) : 0;
            for (int x = done; x < SlideWidth; ++x) {
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

std::shared_ptr<char[]> SlideStore::newBlock()
{
    // A block is filled as slides come, a page at a time. On some machines (virtual ones above all) the
    // first touch of each 4 KB page costs microseconds, tens of milliseconds per block; blocks laid on
    // huge-page bounds and marked for huge pages are faulted in 2 MB at a time instead.
    constexpr size_t Huge = size_t(2) << 20;
    static_assert(BlockBytes % Huge == 0);
    void *block = std::aligned_alloc(Huge, size_t(BlockBytes));
    if (!block)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(block, size_t(BlockBytes), MADV_HUGEPAGE);
#endif
    return std::shared_ptr<char[]>(static_cast<char *>(block), [](char *p) { std::free(p); });
}

void SlideStore::prepareAhead(char *block, qint64 from, qint64 to)
{
#if defined(MADV_HUGEPAGE)
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
    // The first write to each fresh page of a block stops the writer in the kernel (on some machines for
    // tens of microseconds a page). When the slides enter the next stretch of a block, a worker has the
    // kernel make the stretch after it ready for writing; that changes no byte, so it may run while slides
    // are written, and a stretch that is no longer there when it runs is simply refused.
    // A stretch of 1 MB: what is made ready ahead is memory held before any slide needs it.
    constexpr qint64 Stretch = qint64(1) << 20;
    const qint64 entered = to / Stretch;
    if (from != 0 && from / Stretch == entered)
        return;
    const qint64 next = (entered + 1) * Stretch;
    if (next + Stretch > BlockBytes)
        return;
    char *start = block + next;
    QThreadPool::globalInstance()->start([start] { ::madvise(start, size_t(Stretch), MADV_POPULATE_WRITE); });
#else
    Q_UNUSED(block);
    Q_UNUSED(from);
    Q_UNUSED(to);
#endif
}

bool SlideStore::storePacked(const QByteArray &packed, Entry &e)
{
    // A slide equal to the one before is a difference of nothing: an empty entry.
    const qint64 size = packed.size();
    if (size < 0 || size > BlockBytes)
        return false;
    // A block filled to its last byte takes nothing more, not even an empty entry: its place would name
    // the block after it.
    if (m_blocks.empty() || m_used + size > BlockBytes || m_used == BlockBytes) {
        if (m_blocks.size() == m_blocks.capacity())
            m_blocks.reserve(std::max<size_t>(16, m_blocks.capacity() * 2));
        m_blocks.push_back(newBlock());
        m_used = 0;
    }
    e.at = qint64(m_blocks.size() - 1) * BlockBytes + m_used;
    e.size = qint32(size);
    char *to = m_blocks.back().get() + m_used;
    prepareAhead(m_blocks.back().get(), m_used, m_used + size);
    std::memcpy(to, packed.constData(), size_t(size));
    e.check = checksum(QByteArrayView(to, size));
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
    return inflateKey(packedData(e), e.size);
}

bool SlideStore::tellDifference(const char *first, qsizetype stride, const char *before, QByteArray &scratch)
{
    encodeDifference(first, stride, before, scratch);
    // The runs hold only changed pixels and pack to little more than half:
    // kept as they are, a slide is read back without unpacking anything.
    // A difference of more than a quarter of the slide (a pan, a new
    // background) is no saving, and costs reading time for the slides after it.
    return scratch.size() <= RawBytes / 4;
}

SlideStore::Packed SlideStore::packKey(const char *raw, bool forced)
{
    // Keys that come by the count are few and kept whole, so that reading
    // on through them costs a copy. A key forced by a large change is
    // packed: a pan changes everything slide after slide, and a run of
    // whole keys would eat memory.
    if (forced)
        return Packed{quint8(Key | Compressed), qCompress(reinterpret_cast<const uchar *>(raw), RawBytes, PackLevel)};
    return Packed{Key, QByteArray(raw, RawBytes)};
}

SlideStore::Packed SlideStore::encode(const char *raw, const char *before, int chainLength, QByteArray &scratch)
{
    const bool mayTell = before && chainLength < KeyInterval;
    if (mayTell && tellDifference(raw, RowBytes, before, scratch))
        return Packed{0, scratch};
    return packKey(raw, mayTell);
}

namespace {

// A slide in the capture's own 32-bit form, which is compared with the one before without converting.
bool isPicture(const QImage &image)
{
    return image.width() == SlideWidth && image.height() == SlideHeight &&
           (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32);
}

const QRgb *pixels(const QImage &image) { return reinterpret_cast<const QRgb *>(image.constBits()); }

} // namespace

bool SlideStore::append(const QImage &image)
{
    const bool picture = isPicture(image);
    try {
        if (m_raw.size() != RawBytes)
            m_raw.resize(RawBytes);
        const int index = count();
        if (picture && index > 0 && m_prevValid && !m_prevPicture.isNull()) {
            // Recording: the picture is told against the one before as it is, and converted to the
            // slide's bytes only when it becomes a key.
            const bool mayTell = index - newestKey() < KeyInterval;
            if (mayTell && encodePictureDifference(pixels(image), image.bytesPerLine() / 4, pixels(m_prevPicture),
                                                   m_prevPicture.bytesPerLine() / 4, m_diff, RawBytes / 4)) {
                if (!keep(Packed{0, m_diff}))
                    return false;
                m_prevPicture = image;
                m_prevRawBehind = true;
                return true;
            }
            toRaw(image, m_raw.data());
            Packed key = packKey(m_raw.constData(), mayTell);
            if (key.bytes.isEmpty() || !keep(std::move(key)))
                return false;
            m_prevRaw.swap(m_raw);
            m_prevRawBehind = false;
            m_prevPicture = image;
            return true;
        }
        if (!toRaw(image, m_raw.data()))
            return false;
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (!appendRows(m_raw.constData(), RowBytes))
        return false;
    if (picture)
        m_prevPicture = image;
    return true;
}

bool SlideStore::appendAll(SlideStore &&other)
{
    if (other.count() == 0)
        return true;
    if (!other.m_entries.front().isKey ||
        (m_byteLimit >= 0 && m_packedBytes + other.m_packedBytes > m_byteLimit))
        return false;
    try {
        m_entries.reserve(m_entries.size() + other.m_entries.size());
        m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
    } catch (const std::bad_alloc &) {
        return false;
    }
    // Nothing below allocates. The other store's blocks follow this one's, so its slides' places move by
    // as many blocks as this one holds; what is left of this one's last block stays unused.
    const qint64 shift = qint64(m_blocks.size()) * BlockBytes;
    const int first = count();
    for (Entry e : other.m_entries) {
        e.at += shift;
        e.key += first;
        m_entries.push_back(e);
    }
    for (auto &block : other.m_blocks)
        m_blocks.push_back(std::move(block));
    m_used = other.m_used;
    m_packedBytes += other.m_packedBytes;
    m_garbage += other.m_garbage;
    m_keys += other.m_keys;
    m_extraFrames += other.m_extraFrames;
    // The newest slide is now the other store's, whose pixels it may still hold.
    m_prevRaw.swap(other.m_prevRaw);
    m_prevValid = other.m_prevValid;
    m_prevPicture.swap(other.m_prevPicture);
    m_prevRawBehind = other.m_prevRawBehind;
    other.clear();
    return true;
}

bool SlideStore::appendRows(const char *first, qsizetype stride)
{
    try {
        if (m_prevRaw.size() != RawBytes)
            m_prevRaw.resize(RawBytes);
        if (m_raw.size() != RawBytes)
            m_raw.resize(RawBytes);
        const bool own = first == m_raw.constData(); // the rows are m_raw itself, back to back
        const int index = count();
        // After slides were taken or put back, the newest one is read once to tell the next against; one
        // recorded as a picture is converted now.
        if (index > 0 && !m_prevValid) {
            if (!readRaw(index, m_prevRaw.data()))
                return false;
            m_prevRawBehind = false;
        } else if (index > 0 && m_prevRawBehind) {
            toRaw(m_prevPicture, m_prevRaw.data());
            m_prevRawBehind = false;
        }
        const int chain = index - newestKey();
        const bool mayTell = index > 0 && chain < KeyInterval;
        const bool told = mayTell && tellDifference(first, stride, m_prevRaw.constData(), m_diff);
        if (!told && !own)
            copyRows(m_raw.data(), RowBytes, first, stride);
        Packed packed = told ? Packed{0, m_diff} : packKey(m_raw.constData(), mayTell);
        if (packed.bytes.isEmpty() && (packed.flags & Key))
            return false;
        if (!keep(std::move(packed)))
            return false;
        m_prevPicture = QImage();
        // The newest slide's pixels, that the next one is told against. Rows from elsewhere are not
        // copied: the slide before them changes where the difference says, which is little.
        if (told && !own)
            applyDifference(m_prevRaw.data(), RowBytes, m_diff);
        else
            m_prevRaw.swap(m_raw);
        m_prevValid = true;
        return true;
    } catch (const std::bad_alloc &) {
        // Nothing is committed before the last steps, which cannot fail.
        return false;
    }
}

bool SlideStore::keep(Packed &&packed)
{
    Entry entry{0, 0, count(), bool(packed.flags & Compressed), bool(packed.flags & Key)};
    if (!entry.isKey)
        entry.key = newestKey();
    if (m_byteLimit >= 0 && m_packedBytes + packed.bytes.size() > m_byteLimit)
        return false;
    if (m_entries.size() == m_entries.capacity())
        m_entries.reserve(std::max<size_t>(64, m_entries.capacity() * 2));
    if (!storePacked(packed.bytes, entry))
        return false;
    // Nothing below can throw: the room for the entry is reserved.
    m_entries.push_back(entry);
    m_packedBytes += entry.size;
    if (entry.isKey)
        ++m_keys;
    return true;
}

QByteArrayView SlideStore::packedView(int i, quint8 &flags) const
{
    if (i < 1 || i > count()) {
        flags = 0;
        return {};
    }
    const Entry &e = m_entries[size_t(i - 1)];
    flags = flagsOf(e);
    return QByteArrayView(packedData(e), e.size);
}

std::vector<SlideStore::PackedShare> SlideStore::share(int first, int n) const
{
    std::vector<PackedShare> out;
    if (first < 1 || n < 0 || first - 1 + n > count())
        return out;
    out.reserve(size_t(n));
    for (int m = first - 1; m < first - 1 + n; ++m) {
        const Entry &e = m_entries[size_t(m)];
        out.push_back(PackedShare{m_blocks[size_t(e.at / BlockBytes)], packedData(e), e.size, flagsOf(e), e.serial, e.check, e.duration});
    }
    return out;
}

bool SlideStore::appendPacked(quint8 flags, QByteArrayView bytes, const quint64 *check, int duration)
{
    if (duration < 1 || duration > MaxDuration)
        return false;
    const bool key = flags & Key;
    const bool compressed = flags & Compressed;
    if ((!key && (m_entries.empty() || compressed)) || (key && !compressed && bytes.size() != RawBytes))
        return false;
    // A packed key must at least claim a slide's size; inflating it checks the rest when it is read.
    if (compressed && (bytes.size() < 4 || qFromBigEndian<quint32>(bytes.data()) != quint32(RawBytes)))
        return false;
    try {
        if (m_entries.size() == m_entries.capacity())
            m_entries.reserve(std::max<size_t>(64, m_entries.capacity() * 2));
        const int index = count();
        Entry entry{0, 0, key ? index : newestKey(), compressed, key, quint8(duration)};
        if (!storePacked(QByteArray::fromRawData(bytes.data(), bytes.size()), entry))
            return false;
        if (check && entry.check != *check) {
            m_garbage += entry.size;   // stored, but no slide refers to them
            return false;
        }
        m_entries.push_back(entry);
        m_packedBytes += entry.size;
        m_extraFrames += duration - 1;
        m_prevValid = false;
        if (key)
            ++m_keys;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideStore::readRaw(int i, char *raw) const
{
    int held = 0;
    return readOnInto(i, raw, RowBytes, held);
}

void SlideStore::relink(int from)
{
    for (size_t m = size_t(std::max(from, 0)); m < m_entries.size(); ++m)
        m_entries[m].key = m_entries[m].isKey ? int(m) : (m == 0 ? 0 : m_entries[m - 1].key);
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
    std::vector<std::shared_ptr<char[]>>().swap(m_blocks);
    m_used = 0;
    m_packedBytes = 0;
    m_keys = 0;
    m_extraFrames = 0;
    m_raw = QByteArray();
    m_diff = QByteArray();
    m_prevRaw = QByteArray();
    m_prevValid = false;
    m_prevPicture = QImage();
    m_prevRawBehind = false;
    m_garbage = 0;
    m_readRaw = QByteArray();
    m_readIndex = 0;
}

void SlideStore::swap(SlideStore &other) noexcept
{
    m_blocks.swap(other.m_blocks);
    std::swap(m_used, other.m_used);
    m_entries.swap(other.m_entries);
    std::swap(m_packedBytes, other.m_packedBytes);
    std::swap(m_keys, other.m_keys);
    std::swap(m_extraFrames, other.m_extraFrames);
    std::swap(m_garbage, other.m_garbage);
    m_raw.swap(other.m_raw);
    m_diff.swap(other.m_diff);
    m_prevRaw.swap(other.m_prevRaw);
    std::swap(m_prevValid, other.m_prevValid);
    m_prevPicture.swap(other.m_prevPicture);
    std::swap(m_prevRawBehind, other.m_prevRawBehind);
    m_readRaw.swap(other.m_readRaw);
    std::swap(m_readIndex, other.m_readIndex);
    // The byte limit belongs to the place, not to the slides.
}

} // namespace slides
