#include "export/GifLzw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include <sys/resource.h>
#include <unistd.h>
#include <cerrno>

namespace exporting::giflzw {

namespace {

constexpr int MaxCode = 4095;

// Bits, least significant first, into sub-blocks of at most 255 bytes.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t> &out) : m_out(out) {}
    void put(int code, int bits)
    {
        m_bits |= uint64_t(code) << m_count;
        m_count += bits;
        while (m_count >= 8) {
            byte(uint8_t(m_bits));
            m_bits >>= 8;
            m_count -= 8;
        }
    }
    size_t written() const { return m_out.size() + size_t(m_block); }
    void finish()
    {
        if (m_count > 0)
            byte(uint8_t(m_bits));
        if (m_block > 0)
            flushBlock();
        m_out.push_back(0);
    }

private:
    void byte(uint8_t b)
    {
        m_buffer[m_block++] = b;
        if (m_block == 255)
            flushBlock();
    }
    void flushBlock()
    {
        m_out.push_back(uint8_t(m_block));
        m_out.insert(m_out.end(), m_buffer, m_buffer + m_block);
        m_block = 0;
    }
    std::vector<uint8_t> &m_out;
    uint64_t m_bits = 0;
    int m_count = 0;
    uint8_t m_buffer[255];
    int m_block = 0;
};

// The string table: (prefix code, next index) -> code, open addressing. A
// slot holds the 20-bit key and the 12-bit code in one word, so a look-up
// reads one place; 0 is an empty slot.
class Table {
public:
    static constexpr uint32_t Slots = 16384;
    Table() : m_slots(Slots), m_lastChild(MaxCode + 1) {}
    void clear()
    {
        std::fill(m_slots.begin(), m_slots.end(), 0u);
        std::fill(m_lastChild.begin(), m_lastChild.end(), 0u);
    }

    // Look-ups and additions through plain pointers, copied into the coding
    // loop so that they stay in registers: the loop's byte stores could
    // otherwise alias the table's own fields and have them read again for
    // every pixel. Every index is in range by construction (codes are 12
    // bits, slots masked).
    struct Strings {
        uint32_t *entries, *latest; // the slots, and the last child of each prefix
        // The code of prefix + index, or -1; `free` is where it would go.
        int find(int prefix, int index, uint32_t &free) const
        {
            // Runs repeat the string last made from a prefix: a small table
            // answers those without the search.
            const uint32_t child = latest[prefix];
            if ((child >> 12) == (uint32_t(index) | 0x100u))
                return int(child & 0xfff);
            const uint32_t key = key_(prefix, index);
            for (uint32_t s = slot(key);; s = (s + 1) & (Slots - 1)) {
                const uint32_t entry = entries[s];
                if (entry >> 12 == key)
                    return int(entry & 0xfff);
                if (entry == 0) {
                    free = s;
                    return -1;
                }
            }
        }
        // Adds at the slot find() gave for the same prefix + index.
        void add(int prefix, int index, int code, uint32_t free) const
        {
            entries[free] = key_(prefix, index) << 12 | uint32_t(code);
            latest[prefix] = (uint32_t(index) | 0x100u) << 12 | uint32_t(code);
        }
    };
    Strings strings() { return {m_slots.data(), m_lastChild.data()}; }

private:
    static uint32_t key_(int prefix, int index) { return (uint32_t(prefix) << 8 | uint32_t(index)) + 1; }
    static uint32_t slot(uint32_t key) { return (key * 2654435761u >> 12) & (Slots - 1); }
    std::vector<uint32_t> m_slots;
    std::vector<uint32_t> m_lastChild; // per prefix code: (0x100 | index) << 12 | code of the string added last
};

void put16(std::vector<uint8_t> &out, int v)
{
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t(v >> 8 & 0xff));
}

} // namespace

namespace {

// How long a coding was each eighth of the way through its pixels, for a
// later try of the same pixels to be measured against on the way.
struct Pace {
    static constexpr int Marks = 8;
    size_t length[Marks];
};

// Codes `n` palette indexes; false, with `out` left as it was, as soon as the
// data would grow past `limit` bytes, or, at each eighth of the way, past the
// `leader`'s length at the same point by more than it could be expected to
// make up. `own` gets this coding's pace.
bool encodePixels(const uint8_t *pixels, size_t n, int minCodeSize, size_t limit, Table &table,
                  std::vector<uint8_t> &out, Pace *own = nullptr, const Pace *leader = nullptr)
{
    minCodeSize = std::max(2, minCodeSize);
    const size_t at = out.size();
    const int clear = 1 << minCodeSize, end = clear + 1;
    out.push_back(uint8_t(minCodeSize));
    BitWriter bits(out);
    int codeSize = minCodeSize + 1;
    bits.put(clear, codeSize);
    if (n == 0) {
        bits.put(end, codeSize);
        bits.finish();
        return true;
    }
    table.clear();
    const Table::Strings strings = table.strings();
    if (own)
        std::fill(own->length, own->length + Pace::Marks, SIZE_MAX);
    const size_t step = n / Pace::Marks + 1;
    size_t nextMark = step;
    int mark = 0;
    int last = end; // the highest code in use
    int prefix = pixels[0];
    for (size_t i = 1; i < n; ++i) {
        const int next = pixels[i];
        uint32_t free = 0;
        const int code = strings.find(prefix, next, free);
        if (code >= 0) {
            prefix = code;
            continue;
        }
        bits.put(prefix, codeSize);
        const size_t length = bits.written() - at;
        if (length > limit) {
            out.resize(at);
            return false;
        }
        for (; i >= nextMark && mark < Pace::Marks; ++mark, nextMark += step) {
            if (own)
                own->length[mark] = length;
            // A try this far behind seldom catches up: on the scenes
            // measured, giving up cost at most 0.4 % of a file.
            const size_t ahead = leader ? leader->length[mark] : SIZE_MAX;
            if (ahead != SIZE_MAX && length > ahead + ahead / 32 + 32) {
                out.resize(at);
                return false;
            }
        }
        if (last < MaxCode) {
            strings.add(prefix, next, ++last, free);
            if (last >= (1 << codeSize) && codeSize < 12)
                ++codeSize;
        } else {
            // A full table starts over.
            bits.put(clear, codeSize);
            table.clear();
            codeSize = minCodeSize + 1;
            last = end;
        }
        prefix = next;
    }
    bits.put(prefix, codeSize);
    bits.put(end, codeSize);
    bits.finish();
    return true;
}

// Pixels that show already, made transparent in whole stretches: a colour no
// changed pixel needs is transparent wherever it is, and a stretch of showing
// pixels turns transparent, with all showing pixels after it up to the next
// changed one, once it holds two colours. A stretch of one colour keeps it,
// so it can run on into a changed pixel of that colour.
void transparentStretches(const FrameJob &job, std::vector<uint8_t> &into)
{
    const size_t n = job.indexes.size();
    const uint8_t clear = uint8_t(job.transparent);
    // Plain pointers: these loops run over every pixel of every frame.
    const uint8_t *indexes = job.indexes.data(), *shows = job.showsAlready.data();
    // One more place, where showing pixels mark: plain stores, no branch.
    bool needed[257] = {};
    for (size_t i = 0; i < n; ++i)
        needed[shows[i] ? 256 : indexes[i]] = true;
    into.resize(n);
    uint8_t *out = into.data();
    size_t start = 0; // where the current stretch of showing pixels of one colour began
    for (size_t i = 0; i < n; ++i) {
        const uint8_t v = shows[i] && !needed[indexes[i]] ? clear : indexes[i];
        if (!shows[i]) {
            out[i] = v;
            start = i + 1;
            continue;
        }
        if (v == clear || (start < i && out[start] != v)) {
            // Transparent from the stretch's start up to the next changed pixel.
            const void *changed = std::memchr(shows + i, 0, n - i);
            const size_t upTo = changed ? size_t(static_cast<const uint8_t *>(changed) - shows) : n;
            std::fill(out + start, out + upTo, clear);
            i = upTo - 1;
            start = upTo;
            continue;
        }
        out[i] = v;
    }
}

} // namespace

void encodeImage(const FrameJob &job, std::vector<uint8_t> &out)
{
    // Which way packs best depends on the frame: the pixels as they are (a
    // pan of a photo, where little shows already), every showing pixel
    // transparent (flat colours around small changes), or transparent
    // stretches where they join runs of more than one colour (figures moving
    // over a drawn background). Each is coded and the shortest kept, the
    // earlier of these three on a tie; a try stops once it is longer than the
    // best so far, or well behind its pace part of the way in, so the ways
    // with transparency, which mostly win, go first and the others often stop
    // early.
    // Kept from frame to frame of a thread: large buffers made and freed for
    // each frame would have their pages taken back and faulted in again.
    thread_local Table table;
    thread_local std::vector<uint8_t> stretches, pixels, tried, best;
    Pace bestPace, triedPace;
    const size_t n = job.indexes.size();
    if (job.transparent < 0 || job.showsAlready.size() != n) {
        encodePixels(job.indexes.data(), n, job.minCodeSize, SIZE_MAX, table, out);
        return;
    }
    best.clear();
    tried.clear();
    transparentStretches(job, stretches);
    encodePixels(stretches.data(), n, job.minCodeSize, SIZE_MAX, table, best, &bestPace);
    pixels.resize(n);
    const uint8_t clear = uint8_t(job.transparent);
    {
        const uint8_t *indexes = job.indexes.data(), *shows = job.showsAlready.data();
        uint8_t *out = pixels.data();
        for (size_t i = 0; i < n; ++i)
            out[i] = shows[i] ? clear : indexes[i];
    }
    if (n > 0 && std::memcmp(pixels.data(), stretches.data(), n) != 0 &&
        encodePixels(pixels.data(), n, job.minCodeSize, best.size(), table, tried, &triedPace, &bestPace) &&
        tried.size() < best.size()) {
        best.swap(tried);
        bestPace = triedPace;
    }
    tried.clear();
    if (encodePixels(job.indexes.data(), n, job.minCodeSize, best.size(), table, tried, nullptr, &bestPace) &&
        tried.size() <= best.size())
        best.swap(tried);
    out.insert(out.end(), best.begin(), best.end());
}

std::vector<uint8_t> frameRecord(const FrameJob &job)
{
    std::vector<uint8_t> out;
    out.reserve(job.indexes.size() / 2 + 64);
    const bool transparent = job.transparent >= 0;
    const uint8_t control[] = {0x21, 0xf9, 4, uint8_t((1 << 2) | (transparent ? 1 : 0))};
    out.insert(out.end(), control, control + 4);
    put16(out, std::clamp(job.delayCs, 0, 0xffff));
    out.push_back(uint8_t(transparent ? job.transparent : 0));
    out.push_back(0);
    out.push_back(0x2c);
    put16(out, job.rect.left());
    put16(out, job.rect.top());
    put16(out, job.rect.width());
    put16(out, job.rect.height());
    out.push_back(0);
    encodeImage(job, out);
    return out;
}

Coders::Coders(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

Coders::~Coders()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_started.notify_all();
    for (std::thread &t : m_threads)
        t.join();
}

void Coders::submit(FrameJob job)
{
    auto slot = std::make_shared<Slot>();
    if (m_threads.empty()) {
        try {
            slot->record = frameRecord(job);
        } catch (const std::bad_alloc &) {
            slot->failed = true;
        }
        slot->done = true;
        std::lock_guard lock(m_mutex);
        giveBack(job);
        m_order.push_back(slot);
        return;
    }
    slot->job = std::move(job);
    {
        std::lock_guard lock(m_mutex);
        m_order.push_back(slot);
        m_queue.push_back(slot);
    }
    m_started.notify_one();
}

bool Coders::take(std::vector<uint8_t> &record, bool wait, bool &failed)
{
    std::unique_lock lock(m_mutex);
    if (m_order.empty())
        return false;
    const std::shared_ptr<Slot> front = m_order.front();
    if (!front->done) {
        if (!wait)
            return false;
        // Rather than wait, the caller codes frames not yet started itself:
        // its core would otherwise idle while the workers catch up.
        while (!front->done && !m_queue.empty()) {
            const std::shared_ptr<Slot> slot = m_queue.front();
            m_queue.pop_front();
            lock.unlock();
            code(*slot);
            lock.lock();
        }
        m_finished.wait(lock, [&] { return front->done; });
    }
    m_order.pop_front();
    record = std::move(front->record);
    failed = front->failed;
    return true;
}

std::vector<uint8_t> Coders::buffer()
{
    std::lock_guard lock(m_mutex);
    if (m_spare.empty())
        return {};
    std::vector<uint8_t> b = std::move(m_spare.back());
    m_spare.pop_back();
    b.clear();
    return b;
}

void Coders::giveBack(FrameJob &job)
{
    // Enough for the frames in flight; the rest are freed.
    for (std::vector<uint8_t> *b : {&job.indexes, &job.showsAlready})
        if (b->capacity() > 0 && m_spare.size() < 32)
            m_spare.push_back(std::move(*b));
    job = FrameJob();
}

int Coders::waiting() const
{
    std::lock_guard lock(m_mutex);
    return int(m_order.size());
}

void Coders::work()
{
    // The thread that prepares frames is the one all wait for: coding gives
    // way to it, and it codes frames itself when it would wait.
    const pid_t self = gettid();
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_t(self));
    if (errno == 0)
        setpriority(PRIO_PROCESS, id_t(self), std::min(nice + 5, 19));
    for (;;) {
        std::shared_ptr<Slot> slot;
        {
            std::unique_lock lock(m_mutex);
            m_started.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            slot = m_queue.front();
            m_queue.pop_front();
        }
        code(*slot);
    }
}

void Coders::code(Slot &slot)
{
    std::vector<uint8_t> record;
    bool failed = false;
    try {
        record = frameRecord(slot.job);
    } catch (const std::bad_alloc &) {
        failed = true;
    }
    {
        std::lock_guard lock(m_mutex);
        giveBack(slot.job);
        slot.record = std::move(record);
        slot.failed = failed;
        slot.done = true;
    }
    m_finished.notify_all();
}

} // namespace exporting::giflzw
