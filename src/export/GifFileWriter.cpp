#include "export/GifFileWriter.h"

#include <libimagequant.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <thread>

#include "export/GifLzw.h"

namespace exporting {

namespace {

inline uint32_t keyAt(const uchar *bgr) { return 0xff000000u | uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0]; }

inline uint32_t slotOf(uint32_t key, size_t mask) { return uint32_t((key * 2654435761u) >> 8) & uint32_t(mask); }

// Rectangle of the pixels where `now` differs from `before` inside `r`; both
// hold the indexes of `r` row after row (`now`) and of the whole canvas (`before`).
QRect differingIndexes(const uchar *now, const uchar *canvas, int canvasWidth, const QRect &r)
{
    int top = -1, bottom = -1, left = r.width(), right = -1;
    for (int y = 0; y < r.height(); ++y) {
        const uchar *a = now + qsizetype(y) * r.width();
        const uchar *b = canvas + qsizetype(r.top() + y) * canvasWidth + r.left();
        if (std::memcmp(a, b, size_t(r.width())) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int l = 0;
        while (a[l] == b[l])
            ++l;
        int rr = r.width() - 1;
        while (a[rr] == b[rr])
            --rr;
        left = std::min(left, l);
        right = std::max(right, rr);
    }
    if (top < 0)
        return QRect();
    return QRect(r.left() + left, r.top() + top, right - left + 1, bottom - top + 1);
}

inline int distance(const uchar *bgr, QRgb c)
{
    const int db = bgr[0] - qBlue(c), dg = bgr[1] - qGreen(c), dr = bgr[2] - qRed(c);
    return dr * dr + dg * dg + db * db;
}

} // namespace

// libimagequant's state: the palette chosen from the colours counted.
struct GifFileWriter::Quantiser {
    liq_attr *attr = nullptr;
    liq_histogram *histogram = nullptr;
    liq_result *result = nullptr;

    Quantiser()
    {
        attr = liq_attr_create();
        if (attr) {
            // One slot of the 256 stays free for the transparent pixels.
            liq_set_max_colors(attr, 255);
            histogram = liq_histogram_create(attr);
        }
    }
    ~Quantiser()
    {
        if (result)
            liq_result_destroy(result);
        if (histogram)
            liq_histogram_destroy(histogram);
        if (attr)
            liq_attr_destroy(attr);
    }
    bool ok() const { return attr && histogram; }
};

// How often each colour occurs in the rectangles counted, for libimagequant
// to choose a palette from: open addressing on the colour, a slot holding
// the colour above its count. Past a million colours (the noise of a photo)
// each channel drops its lowest bit, as libimagequant would itself, which
// bounds the table at 16 MB.
class GifFileWriter::ColourCounts {
public:
    ColourCounts() { m_slots.resize(size_t(1) << 16); }

    bool add(const uchar *bgr, qsizetype stride, const QRect &r)
    {
        uint32_t lastKey = 0;
        uint64_t *last = nullptr;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const uchar *p = bgr + y * stride + r.left() * 3;
            for (int x = 0; x < r.width(); ++x, p += 3) {
                const uint32_t key = keyAt(p) & m_keep;
                uint32_t weight = RunWeight;
                if (key != lastKey) {
                    weight = 1;
                    last = find(key);
                    if (*last == 0) {
                        if (!makeRoom())
                            return false;
                        last = find(key);
                        *last = uint64_t(key) << 32;
                        ++m_used;
                    }
                    lastKey = key;
                }
                if (uint32_t(*last) <= UINT32_MAX - RunWeight)
                    *last += weight;
            }
        }
        return true;
    }

    std::vector<liq_histogram_entry> entries() const
    {
        // A colour that lost bits stands for the middle of the colours it gathers.
        const uint32_t middle = 0x010101u * ((1u << m_dropped) >> 1);
        std::vector<liq_histogram_entry> out;
        out.reserve(m_used);
        for (const uint64_t slot : m_slots) {
            if (slot == 0)
                continue;
            const uint32_t c = uint32_t(slot >> 32) | middle;
            out.push_back({{uchar(c >> 16), uchar(c >> 8), uchar(c), 255}, uint32_t(slot)});
        }
        return out;
    }

private:
    static constexpr size_t MostColours = size_t(1) << 20;
    // A pixel the colour of the one on its left counts this many times: flat
    // areas (figures, drawn props) get colours of their own, which keeps them
    // clean and their runs long for the LZW codes, while a photo's noise
    // takes less of the palette.
    static constexpr uint32_t RunWeight = 4;

    // The slot holding `key`, or the empty one where it would go. Through
    // a plain pointer: this runs for most pixels of the survey.
    uint64_t *find(uint32_t key)
    {
        uint64_t *const table = m_slots.data();
        const size_t mask = m_slots.size() - 1;
        size_t s = size_t((uint64_t(key) * 0x9e3779b97f4a7c15ull) >> 40) & mask;
        while (table[s] != 0 && uint32_t(table[s] >> 32) != key)
            s = (s + 1) & mask;
        return table + s;
    }
    // Room for one more colour: a table kept at most half full, or coarser colours.
    bool makeRoom()
    {
        if ((m_used + 1) * 2 <= m_slots.size())
            return true;
        std::vector<uint64_t> old;
        try {
            if (m_slots.size() < MostColours * 2) {
                old.swap(m_slots);
                m_slots.resize(old.size() * 2);
            } else {
                old = m_slots;
                ++m_dropped;
                m_keep = 0xff000000u | 0x010101u * (0xffu << m_dropped & 0xffu);
            }
        } catch (const std::bad_alloc &) {
            if (m_slots.empty())
                m_slots.swap(old);
            return false;
        }
        std::fill(m_slots.begin(), m_slots.end(), 0);
        m_used = 0;
        for (const uint64_t slot : old) {
            if (slot == 0)
                continue;
            const uint32_t key = uint32_t(slot >> 32) & m_keep;
            uint64_t *const at = find(key);
            if (*at == 0)
                ++m_used;
            const uint64_t sum = (*at & UINT32_MAX) + (slot & UINT32_MAX);
            *at = uint64_t(key) << 32 | std::min<uint64_t>(sum, UINT32_MAX - RunWeight);
        }
        return (m_used + 1) * 2 <= m_slots.size() || makeRoom();
    }

    std::vector<uint64_t> m_slots;
    size_t m_used = 0;
    int m_dropped = 0;            // low bits of each channel not counted
    uint32_t m_keep = 0xffffffff; // the bits of a colour counted
};

const std::array<uint32_t, 256> GifFileWriter::Spread = [] {
    std::array<uint32_t, 256> spread{};
    for (uint32_t v = 0; v < 256; ++v)
        for (int bit = 0; bit < 8; ++bit)
            spread[v] |= (v >> bit & 1u) << (3 * bit);
    return spread;
}();

GifFileWriter::GifFileWriter(int codingThreads) : m_codingThreads(codingThreads) {}

GifFileWriter::~GifFileWriter() { abort(); }

int GifFileWriter::delayCs(qint64 ticks, int duration, int fps)
{
    const auto at = [fps](qint64 t) { return t * 100 / fps; };
    return int(at(ticks + duration) - at(ticks));
}

bool GifFileWriter::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

QString GifFileWriter::error() const { return m_error; }

bool GifFileWriter::begin(const QString &path, QSize size, int fps, int frameCount)
{
    abort();
    m_error.clear();
    m_size = size;
    m_fps = std::max(1, fps);
    m_ticks = 0;
    m_written = 0;
    m_surveyed = 0;
    // A palette needs no more than a few hundred frames' worth of colours.
    m_surveyStep = std::max(1, frameCount / 250);
    m_distinct = 0;
    m_palette.clear();
    m_transparent = -1;
    if (size.isEmpty() || size.width() > 0xffff || size.height() > 0xffff)
        return fail(QStringLiteral("Неверный размер кадра"));
    try {
        m_seen.assign(size_t(1) << 18, 0); // 2^24 colours, 64 to a word
        const size_t pixels = size_t(size.width()) * size_t(size.height());
        m_canvas.assign(pixels, 0);
        m_previous.assign(pixels * 3, 0);
        m_indexes.resize(pixels);
        m_counts = std::make_unique<ColourCounts>();
        m_quant = std::make_unique<Quantiser>();
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("Недостаточно памяти"));
    }
    if (!m_quant->ok())
        return fail(QStringLiteral("Недостаточно памяти"));
    if (!m_file.create(path))
        return fail(writeError());
    return true;
}

bool GifFileWriter::survey(const Frame &frame)
{
    const QRect r = m_surveyed == 0 ? QRect(QPoint(0, 0), m_size) : frame.changed & QRect(QPoint(0, 0), m_size);
    const bool sampled = m_surveyed % m_surveyStep == 0;
    ++m_surveyed;
    if (r.isEmpty())
        return true;
    // Counting stops mattering once there are more colours than a table holds.
    for (int y = r.top(); y <= r.bottom() && m_distinct <= 256; ++y) {
        const uchar *p = frame.bgr + y * frame.stride + r.left() * 3;
        for (int x = 0; x < r.width(); ++x, p += 3) {
            const uint32_t c = keyAt(p) & 0xffffff;
            quint64 &word = m_seen[c >> 6];
            const quint64 bit = quint64(1) << (c & 63);
            if (!(word & bit)) {
                word |= bit;
                ++m_distinct;
            }
        }
    }
    // The changed rectangles count as often as they change, so the moving
    // figures and what lies around them get the colours they need.
    if (sampled && !m_counts->add(frame.bgr, frame.stride, r))
        return fail(QStringLiteral("Недостаточно памяти"));
    return true;
}

bool GifFileWriter::choosePalette()
{
    if (exactColours()) {
        for (size_t w = 0; w < m_seen.size(); ++w)
            for (quint64 bits = m_seen[w]; bits; bits &= bits - 1)
                m_palette.push_back(0xff000000u | QRgb(w * 64 + size_t(std::countr_zero(bits))));
        if (m_palette.empty())
            m_palette.push_back(qRgb(0, 0, 0));
        if (m_palette.size() < 256) {
            m_transparent = int(m_palette.size());
            m_palette.push_back(qRgb(0, 0, 0));
        }
        size_t tableSlots = 1024;
        m_lookupKeys.assign(tableSlots, 0);
        m_lookupValues.assign(tableSlots, 0);
        for (size_t i = 0; i < m_palette.size(); ++i) {
            if (int(i) == m_transparent)
                continue;
            uint32_t s = slotOf(m_palette[i], tableSlots - 1);
            while (m_lookupKeys[s])
                s = (s + 1) & uint32_t(tableSlots - 1);
            m_lookupKeys[s] = m_palette[i];
            m_lookupValues[s] = uchar(i);
        }
        std::vector<quint64>().swap(m_seen);
        m_counts.reset();
        return true;
    }
    try {
        const std::vector<liq_histogram_entry> entries = m_counts->entries();
        m_counts.reset();
        if (liq_histogram_add_colors(m_quant->histogram, m_quant->attr, entries.data(), int(entries.size()), 0) !=
            LIQ_OK)
            return fail(QStringLiteral("Не удалось подобрать цвета"));
    } catch (const std::bad_alloc &) {
        return fail(QStringLiteral("Недостаточно памяти"));
    }
    if (liq_histogram_quantize(m_quant->histogram, m_quant->attr, &m_quant->result) != LIQ_OK)
        return fail(QStringLiteral("Не удалось подобрать цвета"));
    const liq_palette *pal = liq_get_palette(m_quant->result);
    for (unsigned i = 0; i < pal->count; ++i)
        m_palette.push_back(qRgb(pal->entries[i].r, pal->entries[i].g, pal->entries[i].b));
    m_transparent = int(m_palette.size());
    m_palette.push_back(qRgb(0, 0, 0));
    std::vector<quint64>().swap(m_seen);
    // m_nearest holds one more than the nearest palette entry of each colour
    // met so far, 0 for one not met: a single look-up, and untouched pages
    // of it cost no memory.
    m_nearest.reset(static_cast<uchar *>(std::calloc(size_t(1) << 24, 1)));
    if (!m_nearest)
        return fail(QStringLiteral("Недостаточно памяти"));
    return true;
}

uchar GifFileWriter::nearestUnknown(uint32_t c, uint32_t at)
{
    const int r = int(c >> 16), g = int((c >> 8) & 0xff), b = int(c & 0xff);
    int best = 0, bestDistance = INT_MAX;
    for (int i = 0; i < int(m_palette.size()); ++i) {
        if (i == m_transparent)
            continue;
        const int dr = qRed(m_palette[size_t(i)]) - r, dg = qGreen(m_palette[size_t(i)]) - g,
                  db = qBlue(m_palette[size_t(i)]) - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    // At most 255 chosen colours: one more than the last still fits a byte.
    m_nearest[at] = uchar(best + 1);
    return uchar(best);
}

void GifFileWriter::ditherRect(const Frame &frame, const QRect &r, uchar *out)
{
    // Floyd-Steinberg at three quarters strength: flat areas in a colour of
    // the palette stay clean, gradients of a photo do not band. Dithering the
    // rectangle afresh would make still pixels flicker at its edges, so a
    // pixel whose colour stayed keeps the index it had and passes no error on.
    constexpr int Strength = 12; // of 16
    const int w = r.width();
    const int canvasWidth = m_size.width();
    const bool later = m_written > 0;
    m_errors.assign(size_t(w + 2) * 6, 0);
    int *now = m_errors.data() + 3, *below = m_errors.data() + size_t(w + 2) * 3 + 3;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uchar *p = frame.bgr + y * frame.stride + r.left() * 3;
        const uchar *before = m_previous.data() + (qsizetype(y) * canvasWidth + r.left()) * 3;
        const uchar *held = m_canvas.data() + qsizetype(y) * canvasWidth + r.left();
        for (int x = 0; x < w; ++x, p += 3) {
            // Most of a changed rectangle stayed as it was: eight pixels at a time.
            if (later && x + 8 <= w && std::memcmp(p, before + 3 * x, 24) == 0) {
                std::memcpy(out, held + x, 8);
                out += 8;
                x += 7;
                p += 21;
                continue;
            }
            if (later && std::memcmp(p, before + 3 * x, 3) == 0) {
                *out++ = held[x];
                continue;
            }
            int want[3];
            for (int ch = 0; ch < 3; ++ch)
                want[ch] = std::clamp(int(p[2 - ch]) + now[3 * x + ch] / 16, 0, 255);
            const uchar idx = nearest(uint32_t(want[0]) << 16 | uint32_t(want[1]) << 8 | uint32_t(want[2]));
            *out++ = idx;
            const QRgb got = m_palette[idx];
            const int error[3] = {want[0] - qRed(got), want[1] - qGreen(got), want[2] - qBlue(got)};
            for (int ch = 0; ch < 3; ++ch) {
                const int e = error[ch] * Strength / 16;
                now[3 * (x + 1) + ch] += e * 7;
                below[3 * (x - 1) + ch] += e * 3;
                below[3 * x + ch] += e * 5;
                below[3 * (x + 1) + ch] += e;
            }
        }
        std::swap(now, below);
        std::fill(below - 3, below + size_t(w + 1) * 3, 0);
    }
}

bool GifFileWriter::writeHeader()
{
    m_codeSize = 1;
    while ((1 << m_codeSize) < int(m_palette.size()))
        ++m_codeSize;
    std::vector<uchar> head{'G', 'I', 'F', '8', '9', 'a'};
    const auto put16 = [&head](int v) {
        head.push_back(uchar(v & 0xff));
        head.push_back(uchar(v >> 8));
    };
    put16(m_size.width());
    put16(m_size.height());
    // A global table of 2^m_codeSize entries, 8 bits a channel.
    head.push_back(uchar(0x80 | 0x70 | (m_codeSize - 1)));
    head.push_back(0);
    head.push_back(0);
    for (int i = 0; i < (1 << m_codeSize); ++i) {
        const QRgb c = i < int(m_palette.size()) ? m_palette[size_t(i)] : 0;
        head.insert(head.end(), {uchar(qRed(c)), uchar(qGreen(c)), uchar(qBlue(c))});
    }
    // NETSCAPE2.0 with a count of 0: the player starts over for ever.
    static const char loop[] = "\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00";
    head.insert(head.end(), loop, loop + sizeof loop - 1);
    if (!m_file.write(head.data(), qsizetype(head.size())))
        return fail(writeError());
    try {
        // One core is this thread's, which also codes frames while it would
        // wait; more workers than the other cores would only take turns.
        const int threads = m_codingThreads >= 0
                                ? m_codingThreads
                                : int(std::clamp(std::thread::hardware_concurrency(), 1u, 9u)) - 1;
        m_coders = std::make_unique<giflzw::Coders>(threads);
    } catch (const std::exception &) {
        return fail(QStringLiteral("Недостаточно памяти"));
    }
    return true;
}

QString GifFileWriter::writeError() const { return m_file.error(); }

void GifFileWriter::indexRect(const Frame &frame, const QRect &r)
{
    uchar *out = m_indexes.data();
    if (exactColours()) {
        const size_t mask = m_lookupKeys.size() - 1;
        uint32_t lastKey = 0;
        uchar last = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const uchar *p = frame.bgr + y * frame.stride + r.left() * 3;
            for (int x = 0; x < r.width(); ++x, p += 3) {
                const uint32_t key = keyAt(p);
                if (key != lastKey) {
                    uint32_t s = slotOf(key, mask);
                    // Every colour was seen by the survey, so the search ends.
                    while (m_lookupKeys[s] != key && m_lookupKeys[s])
                        s = (s + 1) & uint32_t(mask);
                    lastKey = key;
                    last = m_lookupValues[s];
                }
                *out++ = last;
            }
        }
        return;
    }
    ditherRect(frame, r, out);
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::memcpy(m_previous.data() + (qsizetype(y) * m_size.width() + r.left()) * 3,
                    frame.bgr + y * frame.stride + r.left() * 3, size_t(r.width()) * 3);
}

bool GifFileWriter::queueImage(giflzw::FrameJob job)
{
    job.minCodeSize = m_codeSize;
    m_coders->submit(std::move(job));
    // A few frames ahead keep every thread busy; more would only hold memory.
    return writeRecords(false);
}

bool GifFileWriter::writeRecords(bool all)
{
    const int ahead = all ? 0 : 8;
    std::vector<uint8_t> record;
    bool failed = false;
    while (m_coders->take(record, m_coders->waiting() > ahead, failed)) {
        if (failed)
            return fail(QStringLiteral("Недостаточно памяти"));
        if (!m_file.write(record.data(), qsizetype(record.size())))
            return fail(writeError());
    }
    return true;
}

bool GifFileWriter::addFrame(const Frame &frame, int duration)
{
    if (!m_error.isEmpty())
        return false;
    if (frame.size != m_size)
        return fail(QStringLiteral("Кадры разного размера"));
    if (m_written == 0 && (!choosePalette() || !writeHeader()))
        return false;
    const int delay = delayCs(m_ticks, duration, m_fps);
    m_ticks += duration;
    const QRect whole(QPoint(0, 0), m_size);
    const QRect changed = m_written == 0 ? whole : frame.changed & whole;
    const int w = m_size.width();

    // A frame like the one before still needs its place and its delay: one
    // pixel that shows what is there.
    const auto writeUnchanged = [&] {
        giflzw::FrameJob job;
        job.rect = QRect(0, 0, 1, 1);
        job.indexes.assign(1, m_transparent >= 0 ? uchar(m_transparent) : m_canvas[0]);
        job.delayCs = delay;
        job.transparent = m_transparent;
        ++m_written;
        return queueImage(std::move(job));
    };
    if (changed.isEmpty())
        return writeUnchanged();

    indexRect(frame, changed);
    QRect r = changed;
    if (m_written > 0) {
        r = differingIndexes(m_indexes.data(), m_canvas.data(), w, changed);
        if (r.isEmpty())
            return writeUnchanged();
    }
    // The differing part of the rectangle, row after row; the coder makes
    // pixels that show already transparent where that packs better.
    giflzw::FrameJob job;
    job.rect = r;
    job.delayCs = delay;
    const bool transparent = m_written > 0 && m_transparent >= 0;
    job.transparent = transparent ? m_transparent : -1;
    job.indexes = m_coders->buffer();
    job.indexes.resize(size_t(r.width()) * size_t(r.height()));
    if (transparent) {
        job.showsAlready = m_coders->buffer();
        job.showsAlready.resize(job.indexes.size());
    }
    // With a palette of chosen colours, a pixel may keep the colour it shows,
    // or take its left neighbour's, when that is no further from the slide
    // than its own dithered pick: still pixels stay still and runs grow,
    // which the LZW codes pack. Any more leeway than that shows: gradients
    // of a pan streak sideways where each pixel copies the one on its left.
    // Exact colours are never bent.
    const bool bend = !exactColours();
    // Plain pointers: this runs over every changed pixel of every frame.
    const QRgb *palette = m_palette.data();
    uchar *indexes = job.indexes.data(), *shows = job.showsAlready.data();
    size_t at = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const uchar *in = m_indexes.data() + qsizetype(y - changed.top()) * changed.width() + (r.left() - changed.left());
        uchar *held = m_canvas.data() + qsizetype(y) * w + r.left();
        const uchar *src = frame.bgr + y * frame.stride + r.left() * 3;
        int left = -1;
        for (int x = 0; x < r.width(); ++x, src += 3, ++at) {
            // Most pixels show what they showed: eight at a time.
            if (x + 8 <= r.width() && std::memcmp(in + x, held + x, 8) == 0) {
                std::memcpy(indexes + at, in + x, 8);
                if (transparent)
                    std::memset(shows + at, 1, 8);
                left = in[x + 7];
                x += 7;
                src += 21;
                at += 7;
                continue;
            }
            uchar v = in[x];
            if (bend && v != held[x]) {
                const int wantV = distance(src, palette[v]);
                if (distance(src, palette[held[x]]) <= wantV)
                    v = held[x];
                else if (left >= 0 && distance(src, palette[left]) <= wantV)
                    v = uchar(left);
            }
            indexes[at] = v;
            if (transparent)
                shows[at] = v == held[x];
            held[x] = v;
            left = v;
        }
    }
    ++m_written;
    return queueImage(std::move(job));
}

bool GifFileWriter::finish()
{
    if (!m_coders || !m_error.isEmpty()) {
        abort();
        return fail(QStringLiteral("Нет кадров"));
    }
    static const uchar trailer = 0x3b;
    if (!writeRecords(true) || !m_file.write(&trailer, 1)) {
        const QString why = m_error.isEmpty() ? writeError() : m_error;
        abort();
        return fail(why);
    }
    m_coders.reset();
    if (!m_file.commit())
        return fail(writeError());
    return true;
}

void GifFileWriter::abort()
{
    m_coders.reset();
    m_file.discard();
    m_quant.reset();
    m_counts.reset();
}

} // namespace exporting
