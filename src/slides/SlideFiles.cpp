#include "slides/SlideFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

#include "controls/NumberFormat.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

namespace slides {

QString slideFileName(int i)
{
    return numfmt::count3(i) + QStringLiteral(".bmp");
}

namespace {

void put16(char *p, quint16 v) { qToLittleEndian(v, p); }
void put32(char *p, quint32 v) { qToLittleEndian(v, p); }

constexpr int HeaderBytes = 14 + 40;

qsizetype bmpStride(int width) { return (qsizetype(width) * 3 + 3) & ~qsizetype(3); }

void putHeader(char *p, int w, int h)
{
    const qsizetype pixelBytes = bmpStride(w) * h;
    std::memset(p, 0, HeaderBytes);
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, quint32(HeaderBytes + pixelBytes));
    put32(p + 10, HeaderBytes);
    put32(p + 14, 40);
    put32(p + 18, quint32(w));
    put32(p + 22, quint32(h)); // positive: rows bottom-up, which every reader understands
    put16(p + 26, 1);
    put16(p + 28, 24);
    put32(p + 30, 0); // BI_RGB
    put32(p + 34, quint32(pixelBytes));
    put32(p + 38, 3780); // 96 dots per inch
    put32(p + 42, 3780);
}

const QDir::Filters FileFilter = QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

} // namespace

QByteArray bmpBytes(const QImage &image)
{
    if (image.isNull())
        return QByteArray();
    try {
        const QImage bgr = image.format() == QImage::Format_BGR888 ? image
                                                                     : image.convertToFormat(QImage::Format_BGR888);
        const int w = bgr.width();
        const int h = bgr.height();
        const qsizetype rowBytes = qsizetype(w) * 3;
        const qsizetype stride = bmpStride(w);
        QByteArray out(HeaderBytes + stride * h, '\0');
        char *p = out.data();
        putHeader(p, w, h);
        char *rows = p + HeaderBytes;
        for (int y = 0; y < h; ++y)
            std::memcpy(rows + stride * (h - 1 - y), bgr.constScanLine(y), size_t(rowBytes));
        return out;
    } catch (const std::bad_alloc &) {
        return QByteArray();
    }
}

namespace {

#ifdef Q_OS_UNIX
// Straight system calls: a slide file is one write of bytes already laid out,
// and QFile's work around opening and closing costs about as much again as
// the rename that keeps the file whole.
bool writeAllTo(const QByteArray &temp, const char *data, qsizetype size)
{
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC; // a write that makes no progress has run out of room
            ok = false;
            break;
        }
        data += n;
        size -= n;
    }
    // Some file systems report a failed write only when the file is closed.
    const int writeError = errno;
    if (::close(fd) != 0)
        ok = false;
    else if (!ok)
        errno = writeError;
    return ok;
}

bool writeWhole(const QByteArray &path, const QByteArray &temp, const char *data, qsizetype size)
{
    // rename replaces an existing file in one step and refuses a folder standing under the name.
    if (writeAllTo(temp, data, size) && ::rename(temp.constData(), path.constData()) == 0)
        return true;
    const int error = errno; // the reason, not the clean-up's
    ::unlink(temp.constData());
    errno = error;
    return false;
}
#else
bool writeWhole(const QByteArray &path, const QByteArray &temp, const char *data, qsizetype size)
{
    const QString tempName = QFile::decodeName(temp);
    QFile file(tempName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(data, size) == size;
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        QFile::remove(tempName);
        return false;
    }
    // std::filesystem replaces an existing file in one step, where QFile::rename refuses.
    std::error_code ec;
    std::filesystem::rename(temp.toStdString(), path.toStdString(), ec);
    if (ec) {
        QFile::remove(tempName);
        return false;
    }
    return true;
}
#endif

// Hidden and beside the target, so that the rename stays on one file system.
QByteArray tempNameFor(const QByteArray &folder, const QByteArray &name)
{
    return folder + '.' + name + ".part";
}

} // namespace

bool writeFileWhole(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath() + QLatin1Char('/'));
    const QByteArray name = QFile::encodeName(info.fileName());
    return writeWhole(folder + name, tempNameFor(folder, name), bytes.constData(), bytes.size());
}

int writeSlideFiles(const QString &folder, const SlideStore &store, const std::function<void(int)> &afterEach,
                    int *firstError)
{
    int dummy = 0;
    int &error = firstError ? *firstError : dummy;
    error = 0;
    constexpr qsizetype Size = HeaderBytes + qsizetype(SlideStore::RowBytes) * SlideHeight;
    static_assert(SlideStore::RowBytes % 4 == 0, "slide rows need no padding in a BMP file");
    const int n = store.count();
    if (n == 0)
        return 0;
    QByteArray file;
    try {
        file.resize(Size);
        putHeader(file.data(), SlideWidth, SlideHeight);
    } catch (const std::bad_alloc &) {
        error = ENOMEM;
        for (int i = 1; i <= n; ++i)
            afterEach(i);
        return 0;
    }
    // The file's pixel rows hold one slide after another: each is the one
    // before with its difference applied, bottom-up as BMP files keep rows.
    char *lastRow = file.data() + HeaderBytes + qsizetype(SlideStore::RowBytes) * (SlideHeight - 1);
    const QByteArray encodedFolder = QFile::encodeName(folder);
    int held = 0;
    int written = 0;
    int number = 0; // of the last file
    for (int i = 1; i <= n; ++i) {
        // A slide that lasts several frames is written as many times, under consecutive numbers, so that
        // the series plays right in any program.
        const int copies = std::max(1, store.duration(i));
        const int first = number + 1;
        number += copies;
        if (!store.readOnInto(i, lastRow, -qsizetype(SlideStore::RowBytes), held)) {
            if (!error)
                error = ENOMEM;
            afterEach(i);
            continue;
        }
        bool whole = true;
        for (int k = first; k <= number; ++k) {
            const QByteArray name = QFile::encodeName(slideFileName(k));
            if (!writeWhole(encodedFolder + name, tempNameFor(encodedFolder, name), file.constData(), file.size())) {
                if (!error)
                    error = errno ? errno : EIO;
                whole = false;
            }
        }
        written += whole ? 1 : 0;
        afterEach(i);
    }
    return written;
}

bool folderHasFiles(const QString &folder)
{
    return !QDir(folder).entryList(FileFilter).isEmpty();
}

qint64 savedSlideRows(const char *header, qint64 size)
{
    const auto le32 = [header](int at) { return qFromLittleEndian<quint32>(header + at); };
    if (size < 54 || header[0] != 'B' || header[1] != 'M' || le32(14) < 40)
        return 0;
    const qint64 offset = le32(10);
    if (qint32(le32(18)) != SlideWidth || qint32(le32(22)) != SlideHeight ||
        qFromLittleEndian<quint16>(header + 28) != 24 || le32(30) != 0 || offset < 54 ||
        offset + qint64(SlideStore::RawBytes) > size)
        return 0;
    return offset;
}

bool discardFilesIn(const QString &folder)
{
    const QDir dir(folder);
    // Qt makes the user's trash only inside an existing data folder (~/.local/share), which a new
    // account may not have yet.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    for (const QString &name : dir.entryList(FileFilter)) {
        const QString path = dir.filePath(name);
        // A link is only removed: the trash must never take what it points at.
        if (QFileInfo(path).isSymLink() || !QFile::moveToTrash(path))
            QFile::remove(path);
    }
    return !folderHasFiles(folder);
}

} // namespace slides
