#include "importing/Import.h"
#include "importing/Probe.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <map>

#include "anigif/GifDecoder.h"
#include "files/AssetFile.h"

namespace importing {

namespace {

const QStringList &pictureSuffixes()
{
    static const QStringList suffixes{QStringLiteral("gif"), QStringLiteral("png"), QStringLiteral("jpg"),
                                      QStringLiteral("jpeg"), QStringLiteral("bmp"), QStringLiteral("webp")};
    return suffixes;
}

QString quoted(const QString &path) { return QStringLiteral("«%1»").arg(QFileInfo(path).fileName()); }

// A file name as a numbered picture: what comes before the number, the number, the extension.
struct Numbered {
    QString prefix;
    QString suffix;
    quint64 number = 0;
    bool ok = false;
};

Numbered numbered(const QString &fileName)
{
    // The prefix is the shortest that leaves digits right before the extension, so "walk10" is "walk" and 10.
    static const QRegularExpression pattern(QStringLiteral("^(.*?)(\\d{1,18})\\.([^.]+)$"));
    const QRegularExpressionMatch m = pattern.match(fileName);
    Numbered n;
    if (!m.hasMatch() || !pictureSuffixes().contains(m.captured(3).toLower()))
        return n;
    n.prefix = m.captured(1);
    n.suffix = m.captured(3).toLower();
    n.number = m.captured(2).toULongLong(&n.ok);
    return n;
}

// The common part of a series' names without the separators before the number: "walk_01" is "walk".
QString seriesName(const QString &prefix, const QString &fallback)
{
    QString name = prefix;
    while (!name.isEmpty() && (name.back().isSpace() || QStringLiteral("_-.").contains(name.back())))
        name.chop(1);
    return name.trimmed().isEmpty() ? fallback : name.trimmed();
}

struct SeriesFile {
    quint64 number;
    QString path;
};

Candidate seriesCandidate(std::vector<SeriesFile> files, const QString &name)
{
    std::stable_sort(files.begin(), files.end(), [](const SeriesFile &a, const SeriesFile &b) {
        return a.number != b.number ? a.number < b.number : QFileInfo(a.path).fileName() < QFileInfo(b.path).fileName();
    });
    Candidate c;
    c.series = true;
    c.name = name;
    c.guess = Kind::Character;
    for (const SeriesFile &f : files)
        c.files.append(f.path);
    c.frames = int(c.files.size());
    // Every picture is read: a series with one broken or odd-sized picture is refused as a whole, naming it.
    for (const QString &path : std::as_const(c.files)) {
        const Probe p = probePicture(path);
        if (!p.problem.isEmpty()) {
            c.problem = p.problem;
            break;
        }
        if (!c.size.isValid()) {
            c.size = p.size;
        } else if (p.size != c.size) {
            c.problem = QStringLiteral("%1: размер %2 × %3 точек, а у первой картинки серии %4 × %5")
                            .arg(quoted(path))
                            .arg(p.size.width())
                            .arg(p.size.height())
                            .arg(c.size.width())
                            .arg(c.size.height());
            break;
        }
    }
    return c;
}

Kind guessFor(QSize size, bool animated)
{
    if (animated)
        return Kind::Character;
    return size.width() > StageWidth ? Kind::Background : Kind::Prop;
}

Candidate singleCandidate(const QString &path)
{
    Candidate c;
    c.files = {path};
    c.name = QFileInfo(path).completeBaseName();
    const Probe p = probePicture(path);
    c.problem = p.problem;
    c.size = p.size;
    c.frames = std::max(1, p.frames);
    c.animated = p.format == "gif" && p.frames > 1;
    c.guess = guessFor(c.size, c.animated);
    return c;
}

Candidate folderCandidate(const QString &folder)
{
    const QString name = QDir(folder).dirName();
    // The largest group of numbered pictures that share a prefix and an extension; others in the folder stay out.
    std::map<std::pair<QString, QString>, std::vector<SeriesFile>> groups;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::System, QDir::Name);
    for (const QFileInfo &info : entries) {
        const Numbered n = numbered(info.fileName());
        if (n.ok)
            groups[{n.prefix, n.suffix}].push_back({n.number, info.filePath()});
    }
    const std::vector<SeriesFile> *best = nullptr;
    for (const auto &[key, files] : groups)
        if (!best || files.size() > best->size())
            best = &files;
    if (!best) {
        Candidate c;
        c.files = {folder};
        c.name = name;
        c.series = true;
        c.guess = Kind::Character;
        c.problem = QStringLiteral("%1: в папке нет пронумерованных картинок (как «walk_01.png», «walk_02.png»)")
                        .arg(quoted(folder));
        return c;
    }
    return seriesCandidate(*best, name);
}

} // namespace

qint64 maxPicturePixels()
{
    const qint64 limitMb = QImageReader::allocationLimit();
    // Four bytes a pixel, as every picture ends up; no limit set still means no more than 32 million pixels.
    return limitMb > 0 ? limitMb * 1024 * 1024 / 4 : qint64(32) << 20;
}

Probe probePicture(const QString &path, QByteArray *keep)
{
    Probe p;
    const QString name = quoted(path);
    files::FileData file = files::readAsset(path);
    switch (file.status) {
    case files::ReadStatus::Ok:
        break;
    case files::ReadStatus::Missing:
        p.problem = QStringLiteral("%1: файл не найден").arg(name);
        return p;
    case files::ReadStatus::NotRegular:
        p.problem = QStringLiteral("%1: это не обычный файл").arg(name);
        return p;
    case files::ReadStatus::TooLarge:
        p.problem = QStringLiteral("%1: файл больше %2 МБ").arg(name).arg(files::MaxAssetBytes >> 20);
        return p;
    case files::ReadStatus::OutOfMemory:
        p.problem = QStringLiteral("%1: не хватило памяти").arg(name);
        return p;
    case files::ReadStatus::Failed:
        p.problem = QStringLiteral("%1: файл не читается").arg(name);
        return p;
    }
    QBuffer buffer(&file.bytes);
    buffer.open(QIODevice::ReadOnly);
    // The format comes from the contents: a JPEG named ".png" is still read, a text named ".png" is not.
    QImageReader reader(&buffer);
    p.format = reader.format().toLower();
    static const QList<QByteArray> accepted{"gif", "png", "jpeg", "jpg", "bmp", "webp"};
    if (p.format.isEmpty() || !reader.canRead()) {
        p.problem = QStringLiteral("%1: это не картинка").arg(name);
        return p;
    }
    if (!accepted.contains(p.format)) {
        p.problem = QStringLiteral("%1: картинки формата %2 не принимаются (можно GIF, PNG, JPEG, BMP, WebP)")
                        .arg(name, QString::fromLatin1(p.format.toUpper()));
        return p;
    }
    if (p.format == "jpg")
        p.format = "jpeg";
    p.size = reader.size();
    if (!p.size.isValid() || p.size.isEmpty()) {
        p.problem = QStringLiteral("%1: картинка повреждена").arg(name);
        return p;
    }
    const qint64 pixels = qint64(p.size.width()) * p.size.height();
    const int gifSide = anigif::MaxGifSide;
    if (pixels > maxPicturePixels() || (p.format == "gif" && std::max(p.size.width(), p.size.height()) > gifSide)) {
        p.problem = QStringLiteral("%1: картинка слишком велика (%2 × %3 точек, можно не больше %4 млн точек)")
                        .arg(name)
                        .arg(p.size.width())
                        .arg(p.size.height())
                        .arg(maxPicturePixels() / 1000000);
        return p;
    }
    // A photo turned on its side by its camera's note is shown, and so measured, turned back.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        p.size.transpose();
    if (p.format == "gif")
        p.frames = std::max(1, reader.imageCount());
    if (keep)
        *keep = std::move(file.bytes);
    return p;
}

QList<Candidate> candidatesFor(const QStringList &paths)
{
    // Numbered pictures are gathered by prefix and extension; a group of two or more is a series, placed
    // where its first picture was chosen.
    struct Slot {
        QString single;
        std::pair<QString, QString> group;
    };
    std::vector<Slot> order;
    std::map<std::pair<QString, QString>, std::vector<SeriesFile>> groups;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            order.push_back({path, {}});
            continue;
        }
        const Numbered n = numbered(info.fileName());
        if (!n.ok) {
            order.push_back({path, {}});
            continue;
        }
        // Pictures of one name in different folders are different series.
        const std::pair<QString, QString> key{info.absolutePath() + QLatin1Char('/') + n.prefix, n.suffix};
        auto &files = groups[key];
        if (files.empty())
            order.push_back({QString(), key});
        files.push_back({n.number, path});
    }
    QList<Candidate> out;
    for (const Slot &slot : order) {
        if (!slot.single.isEmpty()) {
            out.append(QFileInfo(slot.single).isDir() ? folderCandidate(slot.single) : singleCandidate(slot.single));
            continue;
        }
        const std::vector<SeriesFile> &files = groups[slot.group];
        if (files.size() == 1) {
            out.append(singleCandidate(files.front().path));
            continue;
        }
        const QFileInfo first(files.front().path);
        const QString prefix = slot.group.first.mid(first.absolutePath().size() + 1);
        out.append(seriesCandidate(files, seriesName(prefix, first.dir().dirName())));
    }
    return out;
}

bool isScaledDown(QSize size, Kind kind)
{
    if (kind == Kind::Background)
        return size.height() > 2 * StageHeight;
    return size.width() > 2 * StageWidth || size.height() > 2 * StageHeight;
}

QSize importedSize(QSize size, Kind kind, bool keepSize)
{
    if (keepSize || !size.isValid() || !isScaledDown(size, kind))
        return size;
    if (kind == Kind::Background)
        return QSize(std::max(1, int(std::lround(double(size.width()) * StageHeight / size.height()))), StageHeight);
    const double factor = std::min(double(StageWidth) / size.width(), double(StageHeight) / size.height());
    return QSize(std::max(1, int(std::lround(size.width() * factor))),
                 std::max(1, int(std::lround(size.height() * factor))));
}

} // namespace importing
