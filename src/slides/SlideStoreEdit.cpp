// The slide store's edits in the middle of the series: slides taken out,
// put in and reordered, each slide after a change packed again against its
// new neighbour, and the blocks compacted when edits have left them wasteful.

#include "slides/SlideStore.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "slides/SlidePacking.h"

namespace slides {

using namespace packing;

bool SlideStore::take(int first, int n, std::vector<Packed> &out)
{
    if (first < 1 || n < 1 || first - 1 + n > count())
        return false;
    const int at = first - 1;           // 0-based start of the gap
    const int next = at + n;            // 0-based index of the slide after the gap, before taking
    const bool retell = next < count() && !m_entries[size_t(next)].isKey;
    try {
        std::vector<Packed> taken;
        taken.reserve(size_t(n));
        for (int m = at; m < next; ++m) {
            const Entry &e = m_entries[size_t(m)];
            taken.push_back(Packed{flagsOf(e), QByteArray(packedData(e), e.size), e.duration, e.sound});
        }
        Packed retold;
        if (retell) {
            // The slide after the gap was told against a slide that goes: it is told again against the one
            // before the gap, or becomes a key when the chain through it would grow long.
            QByteArray now(RawBytes, Qt::Uninitialized), before;
            if (!readRaw(next + 1, now.data()))
                return false;
            int runEnd = next + 1;
            while (runEnd < count() && !m_entries[size_t(runEnd)].isKey)
                ++runEnd;
            int chain = KeyInterval;
            if (at > 0) {
                before.resize(RawBytes);
                if (!readRaw(at, before.data()))
                    return false;
                const int chainStart = m_entries[size_t(at - 1)].key;
                chain = (runEnd - n - chainStart) > 2 * KeyInterval ? KeyInterval : 0;
            }
            retold = encode(now.constData(), at > 0 ? before.constData() : nullptr, chain, m_diff);
            if (retold.bytes.isEmpty() && (retold.flags & Key))
                return false;
        }
        Entry retoldEntry{0, 0, 0, bool(retold.flags & Compressed), bool(retold.flags & Key)};
        if (retell && !storePacked(retold.bytes, retoldEntry))
            return false;
        // Committed from here on; nothing below allocates.
        qint64 freed = 0;
        int keys = 0;
        for (int m = at; m < next; ++m) {
            freed += m_entries[size_t(m)].size;
            keys += m_entries[size_t(m)].isKey ? 1 : 0;
            m_extraFrames -= m_entries[size_t(m)].duration - 1;
        }
        if (retell) {
            Entry &old = m_entries[size_t(next)];
            retoldEntry.duration = old.duration;
            retoldEntry.sound = std::move(old.sound);
            freed += old.size;
            m_packedBytes += retoldEntry.size;
            keys -= retoldEntry.isKey ? 1 : 0;
            old = retoldEntry;
        }
        m_entries.erase(m_entries.begin() + at, m_entries.begin() + next);
        m_packedBytes -= freed;
        m_garbage += freed;
        m_keys -= keys;
        relink(at);
        m_prevValid = false;
        m_readIndex = 0;
        out = std::move(taken);
        compactIfWasteful();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideStore::insert(int at1, std::vector<Packed> &&slides)
{
    const int at = at1 - 1;
    const int n = int(slides.size());
    if (at < 0 || at > count() || n == 0)
        return false;
    if (!(slides.front().flags & Key) && at == 0)
        return false;
    const bool retell = at < count() && !m_entries[size_t(at)].isKey;
    try {
        Packed retold;
        if (retell) {
            // The slide that will follow the inserted ones is told against the last of them, which is
            // worked out before anything changes: the slide before the place, then each inserted one applied.
            QByteArray now(RawBytes, Qt::Uninitialized), last(RawBytes, Qt::Uninitialized);
            if (!readRaw(at + 1, now.data()))
                return false;
            if (!(slides.front().flags & Key) && !readRaw(at, last.data()))
                return false;
            int sinceKey = 0;
            for (const Packed &p : slides) {
                if (p.flags & Key) {
                    const QByteArray raw =
                        (p.flags & Compressed) ? inflateKey(p.bytes.constData(), p.bytes.size()) : p.bytes;
                    if (raw.size() != RawBytes)
                        return false;
                    std::memcpy(last.data(), raw.constData(), RawBytes);
                    sinceKey = 0;
                } else if (!applyDifference(last.data(), RowBytes, p.bytes)) {
                    return false;
                } else {
                    ++sinceKey;
                }
            }
            int runEnd = at + 1;
            while (runEnd < count() && !m_entries[size_t(runEnd)].isKey)
                ++runEnd;
            // The chain from the segment's last key runs on through the following slides.
            const int chain = sinceKey + (runEnd - at) > 2 * KeyInterval ? KeyInterval : 0;
            retold = encode(now.constData(), last.constData(), chain, m_diff);
            if (retold.bytes.isEmpty() && (retold.flags & Key))
                return false;
        }
        std::vector<Entry> added;
        added.reserve(size_t(n) + 1);
        // Room made now, so that inserting below cannot fail; grown by doubling, as appending does.
        if (m_entries.size() + size_t(n) > m_entries.capacity())
            m_entries.reserve(std::max(m_entries.size() + size_t(n), m_entries.capacity() * 2));
        const auto undoBlocks = [&] {
            // Whatever went into the blocks is not referred to: it is waste until the next compaction.
            for (const Entry &e : added)
                m_garbage += e.size;
        };
        for (const Packed &p : slides) {
            Entry e{0, 0, 0, bool(p.flags & Compressed), bool(p.flags & Key),
                    quint8(std::clamp<int>(p.duration, 1, MaxDuration))};
            e.sound = p.sound;
            if (!storePacked(p.bytes, e)) {
                undoBlocks();
                return false;
            }
            added.push_back(e);
        }
        Entry retoldEntry{0, 0, 0, bool(retold.flags & Compressed), bool(retold.flags & Key)};
        if (retell && !storePacked(retold.bytes, retoldEntry)) {
            undoBlocks();
            return false;
        }
        // Committed from here on: room for the entries is reserved.
        qint64 addedBytes = 0;
        int keys = 0;
        for (const Entry &e : added) {
            addedBytes += e.size;
            keys += e.isKey ? 1 : 0;
            m_extraFrames += e.duration - 1;
        }
        if (retell) {
            Entry &old = m_entries[size_t(at)];
            retoldEntry.duration = old.duration;
            retoldEntry.sound = std::move(old.sound);
            m_garbage += old.size;
            addedBytes += retoldEntry.size - old.size;
            keys += retoldEntry.isKey ? 1 : 0;
            old = retoldEntry;
        }
        m_entries.insert(m_entries.begin() + at, added.begin(), added.end());
        m_packedBytes += addedBytes;
        m_keys += keys;
        relink(at);
        m_prevValid = false;
        m_readIndex = 0;
        slides.clear();
        compactIfWasteful();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideStore::reorder(const std::vector<int> &order)
{
    const int n = count();
    if (int(order.size()) != n)
        return false;
    try {
        std::vector<char> seen(size_t(n), 0);
        for (int o : order) {
            if (o < 1 || o > n || seen[size_t(o - 1)])
                return false;
            seen[size_t(o - 1)] = 1;
        }
        std::vector<Entry> entries;
        entries.reserve(size_t(n));
        for (int o : order)
            entries.push_back(m_entries[size_t(o - 1)]);
        // Where the next key lies from each place, as the keys stand before any slide is told again.
        std::vector<int> nextKey(size_t(n) + 1, n);
        for (int k = n - 1; k >= 0; --k)
            nextKey[size_t(k)] = entries[size_t(k)].isKey ? k : nextKey[size_t(k) + 1];
        std::vector<std::pair<int, Entry>> retold;
        const auto drop = [&] {
            for (const auto &r : retold)
                m_garbage += r.second.size;
        };
        QByteArray now(RawBytes, Qt::Uninitialized), before(RawBytes, Qt::Uninitialized);
        int lastKey = 0;
        for (int k = 0; k < n; ++k) {
            const Entry &e = entries[size_t(k)];
            if (e.isKey) {
                lastKey = k;
                continue;
            }
            if (k > 0 && order[size_t(k - 1)] == order[size_t(k)] - 1)
                continue;
            // The slide before it is read first, so that reading on to the slide itself is cheap when they
            // were neighbours in the old order too.
            if (k > 0 && !readRows(order[size_t(k - 1)], before.data(), RowBytes))
                return drop(), false;
            if (!readRows(order[size_t(k)], now.data(), RowBytes))
                return drop(), false;
            // A chain that would grow long through this slide is cut by making it a key.
            const int chain = k > 0 && (k - lastKey) + (nextKey[size_t(k) + 1] - k) <= 2 * KeyInterval ? 0 : KeyInterval;
            Packed p = encode(now.constData(), k > 0 ? before.constData() : nullptr, chain, m_diff);
            if (p.bytes.isEmpty() && (p.flags & Key))
                return drop(), false;
            Entry told{0, 0, 0, bool(p.flags & Compressed), bool(p.flags & Key), e.duration};
            told.sound = e.sound;
            if (!storePacked(p.bytes, told))
                return drop(), false;
            retold.emplace_back(k, told);
            if (told.isKey)
                lastKey = k;
        }
        // Committed from here on; nothing below allocates.
        for (const auto &[k, told] : retold) {
            Entry &old = entries[size_t(k)];
            m_garbage += old.size;
            m_packedBytes += told.size - old.size;
            m_keys += (told.isKey ? 1 : 0) - (old.isKey ? 1 : 0);
            old = told;
        }
        m_entries.swap(entries);
        relink(0);
        m_prevValid = false;
        m_readIndex = 0;
        compactIfWasteful();
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideStore::packCopies(int after, const std::vector<int> &numbers, std::vector<Packed> &out) const
{
    if (after < 0 || after > count())
        return false;
    for (int i : numbers)
        if (i < 1 || i > count())
            return false;
    try {
        QByteArray before(RawBytes, Qt::Uninitialized), now(RawBytes, Qt::Uninitialized), scratch;
        if (after > 0 && !readRaw(after, before.data()))
            return false;
        int chain = after > 0 ? after - 1 - m_entries[size_t(after - 1)].key : 0;
        std::vector<Packed> packed;
        packed.reserve(numbers.size());
        bool havePrev = after > 0;
        for (int i : numbers) {
            // Through the reading cache: copies of neighbouring slides read on from each other.
            if (!readRows(i, now.data(), RowBytes))
                return false;
            ++chain;
            Packed p = encode(now.constData(), havePrev ? before.constData() : nullptr, chain, scratch);
            if (p.bytes.isEmpty() && (p.flags & Key))
                return false;
            if (p.flags & Key)
                chain = 0;
            p.duration = m_entries[size_t(i - 1)].duration;
            p.sound = m_entries[size_t(i - 1)].sound;
            // Owns its bytes: the scratch buffer is reused for the next slide.
            p.bytes.detach();
            packed.push_back(std::move(p));
            before.swap(now);
            havePrev = true;
        }
        out = std::move(packed);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool SlideStore::packImage(int after, const QImage &image, Packed &out) const
{
    if (after < 0 || after > count())
        return false;
    try {
        QByteArray before, now(RawBytes, Qt::Uninitialized), scratch;
        if (!toRaw(image, now.data()))
            return false;
        if (after > 0) {
            before.resize(RawBytes);
            if (!readRows(after, before.data(), RowBytes))
                return false;
        }
        // As long as the chain through the slide before would be with this one after it.
        const int chain = after > 0 ? after - m_entries[size_t(after - 1)].key : 0;
        Packed p = encode(now.constData(), after > 0 ? before.constData() : nullptr, chain, scratch);
        if (p.bytes.isEmpty() && (p.flags & Key))
            return false;
        if (m_byteLimit >= 0 && m_packedBytes + p.bytes.size() > m_byteLimit)
            return false;
        p.bytes.detach();
        out = std::move(p);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

void SlideStore::compactIfWasteful()
{
    // Taking and putting back leaves bytes in the blocks that nothing uses; once they outweigh the
    // slides, the slides are copied into fresh blocks. Skipped quietly when memory is short.
    if (m_garbage < (32 << 20) || m_garbage < m_packedBytes)
        return;
    try {
        SlideStore fresh;
        fresh.m_entries.reserve(m_entries.size());
        for (const Entry &e : m_entries) {
            Entry copy = e;
            if (!fresh.storePacked(QByteArray::fromRawData(packedData(e), e.size), copy))
                return;
            fresh.m_entries.push_back(copy);
        }
        m_blocks.swap(fresh.m_blocks);
        m_used = fresh.m_used;
        m_entries.swap(fresh.m_entries);
        m_garbage = 0;
    } catch (const std::bad_alloc &) {
    }
}

} // namespace slides
