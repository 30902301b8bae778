#include "export/GifLzw.h"

#include <algorithm>
#include <cstring>
#include <new>

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

// The string table: (prefix code, next index) -> code, open addressing.
class Table {
public:
    static constexpr uint32_t Slots = 16384;
    Table() : m_keys(Slots), m_codes(Slots) {}
    void clear() { std::fill(m_keys.begin(), m_keys.end(), 0u); }
    // The code of prefix + index, or -1.
    int find(int prefix, int index) const
    {
        const uint32_t key = key_(prefix, index);
        for (uint32_t s = slot(key);; s = (s + 1) & (Slots - 1)) {
            if (m_keys[s] == key)
                return m_codes[s];
            if (m_keys[s] == 0)
                return -1;
        }
    }
    void add(int prefix, int index, int code)
    {
        const uint32_t key = key_(prefix, index);
        uint32_t s = slot(key);
        while (m_keys[s] != 0)
            s = (s + 1) & (Slots - 1);
        m_keys[s] = key;
        m_codes[s] = uint16_t(code);
    }

private:
    static uint32_t key_(int prefix, int index) { return (uint32_t(prefix) << 8 | uint32_t(index)) + 1; }
    static uint32_t slot(uint32_t key) { return (key * 2654435761u >> 12) & (Slots - 1); }
    std::vector<uint32_t> m_keys;
    std::vector<uint16_t> m_codes;
};

void put16(std::vector<uint8_t> &out, int v)
{
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t(v >> 8 & 0xff));
}

} // namespace

namespace {

// `keepIndexes`: a pixel that shows already keeps its index unless only the
// transparent one continues the string; otherwise it is transparent unless
// its index goes on with a run of that index.
void encodeWith(const FrameJob &job, bool keepIndexes, std::vector<uint8_t> &out)
{
    const int minCodeSize = std::max(2, job.minCodeSize);
    const int clear = 1 << minCodeSize, end = clear + 1;
    out.push_back(uint8_t(minCodeSize));
    BitWriter bits(out);
    const size_t n = job.indexes.size();
    if (n == 0) {
        bits.put(clear, minCodeSize + 1);
        bits.put(end, minCodeSize + 1);
        bits.finish();
        return;
    }
    const bool flexible = job.transparent >= 0 && job.showsAlready.size() == n;
    Table table;
    int codeSize = minCodeSize + 1;
    int last = end; // the highest code in use
    bits.put(clear, codeSize);
    // A string's first pixel: a pixel that shows already goes on with what
    // came before it (transparent after transparent), else is transparent.
    const auto start = [&](size_t i, int before) {
        if (flexible && !keepIndexes && job.showsAlready[i] && before != job.indexes[i])
            return job.transparent;
        return int(job.indexes[i]);
    };
    int prefix = start(0, job.transparent);
    int shown = prefix;
    for (size_t i = 1; i < n; ++i) {
        const bool either = flexible && job.showsAlready[i];
        const int own = job.indexes[i];
        const int first = either && !keepIndexes && shown != own ? job.transparent : own;
        const int second = either ? (first == own ? job.transparent : own) : -1;
        int next = first;
        int code = table.find(prefix, first);
        if (code < 0 && second >= 0 && (code = table.find(prefix, second)) >= 0)
            next = second;
        if (code >= 0) {
            prefix = code;
            shown = next;
            continue;
        }
        bits.put(prefix, codeSize);
        if (last < MaxCode) {
            table.add(prefix, first, ++last);
            if (last >= (1 << codeSize) && codeSize < 12)
                ++codeSize;
            prefix = first;
        } else {
            // A full table starts over.
            bits.put(clear, codeSize);
            table.clear();
            codeSize = minCodeSize + 1;
            last = end;
            prefix = start(i, shown);
        }
        shown = prefix;
    }
    bits.put(prefix, codeSize);
    bits.put(end, codeSize);
    bits.finish();
}

} // namespace

void encodeImage(const FrameJob &job, std::vector<uint8_t> &out)
{
    // Which way packs better depends on the frame: held pixels of a dithered
    // photo are noise that only transparent runs pack, while flat colours and
    // still pixels among moving ones pack as the indexes they are. Both are
    // tried and the shorter kept.
    const size_t at = out.size();
    encodeWith(job, false, out);
    if (job.transparent < 0 || job.showsAlready.empty())
        return;
    std::vector<uint8_t> other;
    other.reserve(out.size() - at);
    encodeWith(job, true, other);
    if (other.size() < out.size() - at) {
        out.resize(at);
        out.insert(out.end(), other.begin(), other.end());
    }
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
    for (int i = 0; i < std::max(1, threads); ++i)
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
        m_finished.wait(lock, [&] { return front->done; });
    }
    m_order.pop_front();
    record = std::move(front->record);
    failed = front->failed;
    return true;
}

int Coders::waiting() const
{
    std::lock_guard lock(m_mutex);
    return int(m_order.size());
}

void Coders::work()
{
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
        std::vector<uint8_t> record;
        bool failed = false;
        try {
            record = frameRecord(slot->job);
        } catch (const std::bad_alloc &) {
            failed = true;
        }
        slot->job = FrameJob();
        {
            std::lock_guard lock(m_mutex);
            slot->record = std::move(record);
            slot->failed = failed;
            slot->done = true;
        }
        m_finished.notify_all();
    }
}

} // namespace exporting::giflzw
