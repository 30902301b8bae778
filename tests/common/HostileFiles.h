#pragma once
// Files that are not what their names promise, made on the spot: FIFOs,
// sparse giants, links to devices, and GIFs written byte by byte with
// frames off the canvas or of enormous size. Also a way to measure how much
// memory a piece of work takes, and a ceiling on the process's address space
// so that a regression fails a test instead of eating the machine.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QRect>
#include <QRgb>
#include <QString>

#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hostile {

// A FIFO outside the asset folders and a link to it named `name` in `dir`:
// a reader that opens it without care waits for a writer for ever.
inline QString fifoLink(const QString &dir, const QString &fifoDir, const QString &name)
{
    const QString fifo = QDir(fifoDir).filePath(name + QStringLiteral(".fifo"));
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const QString link = QDir(dir).filePath(name);
    QFile::link(fifo, link);
    return link;
}

// A sparse file of `bytes` that takes no room on disk.
inline QString sparseFile(const QString &dir, const QString &name, qint64 bytes, const QByteArray &head = {})
{
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(head);
        f.resize(bytes);
    }
    return path;
}

inline QString linkTo(const QString &target, const QString &dir, const QString &name)
{
    const QString link = QDir(dir).filePath(name);
    QFile::link(target, link);
    return link;
}

// Caps the test process's address space a little above what it uses now, so
// that a read of a whole giant file or a runaway decoder fails quickly.
inline void capAddressSpace(qint64 headroomBytes)
{
    long pages = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    const rlimit limit{rlim_t(pages * sysconf(_SC_PAGESIZE) + headroomBytes),
                       rlim_t(pages * sysconf(_SC_PAGESIZE) + headroomBytes)};
    setrlimit(RLIMIT_AS, &limit);
}

inline long statusKb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// How far resident memory rose above its level before `work`, in MiB; -1
// when the kernel does not let the peak be reset.
inline double peakGrowthMiB(const std::function<void()> &work)
{
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (!reset.open(QIODevice::WriteOnly) || reset.write("5") != 1)
        return -1;
    reset.close();
    const long before = statusKb("VmRSS:");
    work();
    return (statusKb("VmHWM:") - before) / 1024.0;
}

// ---- GIFs written byte by byte ----

// A frame of a hand-made GIF. Its rectangle may reach past the canvas or lie
// wholly outside it, as no GIF writer would allow.
struct RawFrame {
    QRect rect;
    int disposal = 1;         // 1 keep, 2 background, 3 previous
    int transparent = -1;     // transparent colour index, or none
    QByteArray pixels;        // one colour index per pixel, row by row; empty: every pixel is `fill`
    quint8 fill = 1;
    int delayCs = 10;
};

namespace detail {

inline void le16(QByteArray &b, int v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

// Emits LZW codes the way giflib's decoder reads them, tracking the code
// width as the decoder does.
class Lzw {
public:
    explicit Lzw(int minCodeSize) : m_min(minCodeSize), m_clear(1 << minCodeSize), m_eoi(m_clear + 1)
    {
        reset();
        put(m_clear);
    }

    void literal(int index) { put(index); ++m_sinceClear; }

    // `count` pixels of one index, as few codes as the growing table allows.
    void run(int index, qint64 count)
    {
        while (count > 0) {
            // The code read next may stand for any length up to one more than the codes read since the clear.
            if (m_first + m_sinceClear > 4000) {
                put(m_clear);
                m_sinceClear = 0;
            }
            const qint64 length = std::min<qint64>(count, m_sinceClear + 1);
            put(length == 1 ? index : int(m_first + length - 2));
            ++m_sinceClear;
            count -= length;
        }
    }

    QByteArray finish()
    {
        put(m_eoi);
        if (m_bitCount > 0)
            m_out.append(char(m_bits & 0xff));
        return m_out;
    }

private:
    void reset()
    {
        m_running = m_eoi + 1;
        m_width = m_min + 1;
        m_max = 1 << m_width;
    }
    void put(int code)
    {
        m_bits |= quint32(code) << m_bitCount;
        m_bitCount += m_width;
        while (m_bitCount >= 8) {
            m_out.append(char(m_bits & 0xff));
            m_bits >>= 8;
            m_bitCount -= 8;
        }
        if (m_running < 4097 && ++m_running > m_max && m_width < 12) {
            m_max <<= 1;
            ++m_width;
        }
        if (code == m_clear)
            reset();
    }

    int m_min, m_clear, m_eoi;
    int m_first = (1 << m_min) + 2;
    int m_running = 0, m_width = 0, m_max = 0;
    qint64 m_sinceClear = 0;
    quint32 m_bits = 0;
    int m_bitCount = 0;
    QByteArray m_out;
};

} // namespace detail

// A GIF89a with a global palette (2, 4, ... 256 colours) and the given frames.
inline QByteArray rawGif(QSize canvas, QList<QRgb> palette, const QList<RawFrame> &frames)
{
    int sizeBits = 1;
    while ((1 << sizeBits) < palette.size())
        ++sizeBits;
    palette.resize(1 << sizeBits, qRgb(0, 0, 0));
    QByteArray b("GIF89a");
    detail::le16(b, canvas.width());
    detail::le16(b, canvas.height());
    b.append(char(0x80 | ((sizeBits - 1) << 4) | (sizeBits - 1)));
    b.append('\0');
    b.append('\0');
    for (QRgb c : palette) {
        b.append(char(qRed(c)));
        b.append(char(qGreen(c)));
        b.append(char(qBlue(c)));
    }
    const int minCode = std::max(2, sizeBits);
    for (const RawFrame &f : frames) {
        b.append("\x21\xf9\x04", 3);
        b.append(char((f.disposal << 2) | (f.transparent >= 0 ? 1 : 0)));
        detail::le16(b, f.delayCs);
        b.append(char(f.transparent >= 0 ? f.transparent : 0));
        b.append('\0');
        b.append(char(0x2c));
        detail::le16(b, f.rect.left());
        detail::le16(b, f.rect.top());
        detail::le16(b, f.rect.width());
        detail::le16(b, f.rect.height());
        b.append('\0');
        b.append(char(minCode));
        detail::Lzw lzw(minCode);
        if (f.pixels.isEmpty()) {
            lzw.run(f.fill, qint64(f.rect.width()) * f.rect.height());
        } else {
            for (char p : f.pixels)
                lzw.literal(quint8(p));
        }
        const QByteArray data = lzw.finish();
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const qsizetype n = std::min<qsizetype>(255, data.size() - at);
            b.append(char(n));
            b.append(data.mid(at, n));
        }
        b.append('\0');
    }
    b.append(char(0x3b));
    return b;
}

} // namespace hostile
