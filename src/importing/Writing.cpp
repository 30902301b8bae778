#include "importing/Frames.h"
#include "importing/Import.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>

#include <libimagequant.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "anigif/GifWriter.h"
#include "controls/SystemError.h"

namespace importing {

namespace {

// A GIF has one bit of transparency: a pixel at least half opaque is shown opaque.
constexpr int OpaqueFrom = 128;

// libimagequant's palette for frames of more than 256 colours, and the frames redrawn in it with dithering.
bool quantise(QList<QImage> &frames, QList<QRgb> *palette, QString *error)
{
    liq_attr *attr = liq_attr_create();
    if (!attr) {
        *error = QStringLiteral("не хватило памяти");
        return false;
    }
    std::unique_ptr<liq_attr, void (*)(liq_attr *)> attrOwner(attr, liq_attr_destroy);
    liq_set_max_colors(attr, 256);
    std::unique_ptr<liq_histogram, void (*)(liq_histogram *)> histogram(liq_histogram_create(attr),
                                                                       liq_histogram_destroy);
    QList<QImage> rgba;
    for (const QImage &frame : std::as_const(frames)) {
        rgba.append(frame.convertToFormat(QImage::Format_RGBA8888));
        const QImage &r = rgba.back();
        liq_image *image = liq_image_create_rgba(attr, r.constBits(), r.width(), r.height(), 0);
        if (!image || liq_histogram_add_image(histogram.get(), attr, image) != LIQ_OK) {
            if (image)
                liq_image_destroy(image);
            *error = QStringLiteral("не удалось подобрать цвета");
            return false;
        }
        liq_image_destroy(image);
    }
    liq_result *result = nullptr;
    if (liq_histogram_quantize(histogram.get(), attr, &result) != LIQ_OK) {
        *error = QStringLiteral("не удалось подобрать цвета");
        return false;
    }
    std::unique_ptr<liq_result, void (*)(liq_result *)> resultOwner(result, liq_result_destroy);
    liq_set_dithering_level(result, 1.0f);
    std::vector<uchar> indexes;
    for (int i = 0; i < frames.size(); ++i) {
        const QImage &r = rgba[i];
        liq_image *image = liq_image_create_rgba(attr, r.constBits(), r.width(), r.height(), 0);
        indexes.resize(size_t(r.width()) * size_t(r.height()));
        const bool ok = image && liq_write_remapped_image(result, image, indexes.data(), indexes.size()) == LIQ_OK;
        if (image)
            liq_image_destroy(image);
        if (!ok) {
            *error = QStringLiteral("не удалось подобрать цвета");
            return false;
        }
        const liq_palette *entries = liq_get_palette(result);
        QImage &frame = frames[i];
        for (int y = 0; y < frame.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            const uchar *in = indexes.data() + size_t(y) * size_t(frame.width());
            for (int x = 0; x < frame.width(); ++x) {
                const liq_color c = entries->entries[in[x]];
                row[x] = c.a < OpaqueFrom ? 0 : qRgb(c.r, c.g, c.b);
            }
        }
        rgba[i] = QImage();
    }
    const liq_palette *entries = liq_get_palette(result);
    palette->clear();
    for (unsigned i = 0; i < entries->count; ++i) {
        const liq_color c = entries->entries[i];
        if (c.a >= OpaqueFrom && !palette->contains(qRgb(c.r, c.g, c.b)))
            palette->append(qRgb(c.r, c.g, c.b));
    }
    return true;
}

QString quotedName(const QString &name) { return QStringLiteral("«%1»").arg(name); }

// Writes `bytes` under a hidden temporary name in `folder` and renames it to the first free one of
// "base.ext", "base (2).ext", ...: the file appears whole or not at all, and never over another.
Written writeUnique(const QString &folder, QString base, const QString &ext, const QByteArray &bytes)
{
    Written w;
    auto fail = [&](int error) {
        w.path.clear();
        w.error = QStringLiteral("Не удалось записать %1 в папку %2: %3")
                      .arg(quotedName(base + QLatin1Char('.') + ext), quotedName(QDir::toNativeSeparators(folder)),
                           controls::systemReason(error));
        return w;
    };
    QByteArray temp = QFile::encodeName(folder) + "/.import-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0 && !error) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            p += n, left -= n;
    }
    // Read for everyone as the library's other files are; mkostemp makes it the owner's alone.
    if (!error && ::fchmod(fd, 0644) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error) {
        ::unlink(temp.constData());
        return fail(error);
    }
    // Moves the file to `target` unless something is there already.
    auto place = [&temp](const QByteArray &target) {
        if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS)
            return errno;
        // A file system without the no-replace flag: look first, then rename.
        struct stat st;
        if (::lstat(target.constData(), &st) == 0)
            return EEXIST;
        return ::rename(temp.constData(), target.constData()) == 0 ? 0 : errno;
    };
    bool portable = false;
    for (int n = 1; n < 100000;) {
        const QString name = base + (n > 1 ? QStringLiteral(" (%1)").arg(n) : QString()) + QLatin1Char('.') + ext;
        const QString path = QDir(folder).filePath(name);
        const int e = place(QFile::encodeName(path));
        if (e == 0) {
            w.path = path;
            return w;
        }
        if (e == EEXIST) {
            ++n;
            continue;
        }
        // FAT and exFAT refuse quotes, colons and a few more; the name then does without them.
        if (e == EINVAL && !portable && portableFileName(base) != base) {
            base = portableFileName(base);
            portable = true;
            n = 1;
            continue;
        }
        ::unlink(temp.constData());
        return fail(e);
    }
    ::unlink(temp.constData());
    return fail(EEXIST);
}

} // namespace

QString safeFileName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\'))
            out += QLatin1Char('-');
        else if (c.category() != QChar::Other_Control)
            out += c;
    }
    out = out.trimmed();
    // A leading dot hides a file from the picker and from file managers.
    while (out.startsWith(QLatin1Char('.')))
        out = out.mid(1).trimmed();
    // File names are at most 255 bytes; room is left for " (99999).gif" and the temporary name.
    while (out.toUtf8().size() > 200) {
        out.chop(1);
        if (!out.isEmpty() && out.back().isHighSurrogate())
            out.chop(1);
    }
    out = out.trimmed();
    return out.isEmpty() ? QStringLiteral("Картинка") : out;
}

QString portableFileName(const QString &name)
{
    QString out = name;
    for (QChar &c : out)
        if (QStringLiteral("\"*:<>?|").contains(c))
            c = QLatin1Char('_');
    // Windows drops trailing dots and spaces, which would make two names one.
    while (out.endsWith(QLatin1Char('.')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("Картинка") : out;
}

QByteArray encodeCharacter(QList<QImage> frames, const QList<int> &delaysMs, QString *error)
{
    if (frames.isEmpty()) {
        *error = QStringLiteral("нет кадров");
        return QByteArray();
    }
    // One bit of transparency, and a census of the colours while they fit a table: a bit per 24-bit colour.
    // The frames are changed in place: given by a caller that lets go of them, they are not copied.
    std::vector<quint64> seen(size_t(1) << 18);
    QList<QRgb> colours;
    bool transparent = false;
    for (QImage &frame : frames) {
        if (frame.format() != QImage::Format_ARGB32)
            frame = frame.convertToFormat(QImage::Format_ARGB32);
        const int width = frame.width();
        for (int y = 0; y < frame.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < width; ++x) {
                const QRgb c = row[x];
                if (qAlpha(c) < OpaqueFrom) {
                    row[x] = 0;
                    transparent = true;
                    continue;
                }
                row[x] = c | 0xff000000u;
                const quint32 rgb = c & 0xffffffu;
                quint64 &word = seen[rgb >> 6];
                const quint64 bit = quint64(1) << (rgb & 63);
                if (!(word & bit)) {
                    word |= bit;
                    if (colours.size() <= 256)
                        colours.append(row[x]);
                }
            }
        }
    }
    const bool exact = colours.size() + (transparent ? 1 : 0) <= 256;
    if (exact) {
        std::sort(colours.begin(), colours.end());
    } else if (!quantise(frames, &colours, error)) {
        return QByteArray();
    }

    anigif::GifDocument doc;
    doc.screen = frames.front().size();
    doc.globalPalette = colours;
    doc.loopCount = frames.size() > 1 ? 0 : -1;
    // Delays in hundredths rounded so that they add up to the true time; browsers play under 2 as 10.
    qint64 elapsedMs = 0;
    for (int i = 0; i < frames.size(); ++i) {
        anigif::GifFrame frame;
        frame.image = frames[i];
        const qint64 next = elapsedMs + std::max(0, delaysMs.value(i, 100));
        const int cs = int(std::llround(next / 10.0) - std::llround(elapsedMs / 10.0));
        frame.delayCs = frames.size() > 1 ? std::max(2, cs) : 0;
        elapsedMs = next;
        // Every frame is whole, so clearing it away leaves no trace of a sprite that moved.
        frame.disposal = anigif::Disposal::Background;
        doc.frames.append(frame);
    }
    return anigif::encodeGif(doc, error);
}

Written importInto(const Candidate &candidate, const Options &options, const QString &libraryFolder,
                   const std::atomic<bool> *cancel)
{
    Written w;
    if (!candidate.problem.isEmpty()) {
        w.error = candidate.problem;
        return w;
    }
    const QString base = safeFileName(candidate.name);
    QByteArray bytes;
    QString ext;
    // A file that needs no cutting or scaling is kept byte for byte where the library reads its format:
    // characters and props are GIFs, backgrounds any picture with a three-letter extension.
    const bool sheet = qint64(options.columns) * options.rows > 1;
    if (!candidate.series && !sheet && candidate.files.size() == 1
        && importedSize(candidate.size, options.kind, options.keepSize) == candidate.size) {
        Decoded d = decodeFile(candidate.files.front(), true);
        if (!d.error.isEmpty()) {
            w.error = d.error;
            return w;
        }
        const bool keep = options.kind == Kind::Background ? d.images.size() == 1 && d.format != "webp"
                                                            : d.format == "gif" && !d.truncated;
        if (keep && d.images.front().size() == candidate.size) {
            bytes = d.bytes;
            ext = d.format == "jpeg" ? QStringLiteral("jpg") : QString::fromLatin1(d.format);
        }
    }
    if (bytes.isEmpty()) {
        Frames frames = makeFrames(candidate, options, cancel);
        if (!frames.error.isEmpty()) {
            w.error = frames.error;
            return w;
        }
        QString why;
        if (options.kind == Kind::Background) {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "png");
            if (!writer.write(frames.images.front()))
                why = writer.errorString();
            ext = QStringLiteral("png");
        } else {
            if (options.kind == Kind::Prop) {
                frames.images = {frames.images.front()};
                frames.delaysMs = {0};
            }
            bytes = encodeCharacter(std::move(frames.images), frames.delaysMs, &why);
            ext = QStringLiteral("gif");
        }
        if (bytes.isEmpty()) {
            w.error = QStringLiteral("%1: не удалось преобразовать картинку (%2)").arg(quotedName(base), why);
            return w;
        }
    }
    if (cancel && cancel->load()) {
        w.error = QStringLiteral("Отменено");
        return w;
    }
    const QString folder = QDir(libraryFolder).filePath(folderName(options.kind));
    QDir().mkpath(libraryFolder);
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
        w.error = QStringLiteral("Не удалось создать папку %1: %2")
                      .arg(quotedName(QDir::toNativeSeparators(folder)), controls::systemReason(errno));
        return w;
    }
    return writeUnique(folder, base, ext, bytes);
}

} // namespace importing
