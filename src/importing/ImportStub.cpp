// TEMPORARY stand-in for the import engine, so that the import window can be built and tried before
// the engine exists. It is deliberately plain (no numbered-series detection, no hostile-file rules,
// no exact colours) and is removed when the engine's own implementation of Import.h is merged.
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

#include "anigif/GifWriter.h"
#include "importing/Import.h"

namespace importing {

namespace {
const QSize Stage(396, 346);
}

QList<Candidate> candidatesFor(const QStringList &paths)
{
    QList<Candidate> out;
    for (const QString &path : paths) {
        Candidate c;
        const QFileInfo info(path);
        c.name = info.completeBaseName();
        if (info.isDir()) {
            const QDir dir(path);
            for (const QString &n : dir.entryList({"*.png", "*.gif", "*.jpg", "*.bmp"}, QDir::Files, QDir::Name))
                c.files << dir.filePath(n);
            c.name = info.fileName();
            c.series = true;
        } else {
            c.files << path;
        }
        QImageReader reader(c.files.value(0));
        c.size = reader.size();
        c.frames = c.series ? int(c.files.size()) : std::max(1, reader.imageCount());
        c.animated = !c.series && c.frames > 1;
        if (c.files.isEmpty() || !c.size.isValid())
            c.problem = QStringLiteral("это не картинка");
        c.guess = (c.series || c.animated) ? Kind::Character
                  : c.size.width() > Stage.width() ? Kind::Background : Kind::Prop;
        out << c;
    }
    return out;
}

bool isScaledDown(QSize size, Kind kind)
{
    return kind == Kind::Background ? size.height() > Stage.height()
                                    : size.width() > Stage.width() || size.height() > Stage.height();
}

QSize importedSize(QSize size, Kind kind, bool keepSize)
{
    if (keepSize || !isScaledDown(size, kind))
        return size;
    return kind == Kind::Background ? size.scaled(QSize(1 << 20, Stage.height()), Qt::KeepAspectRatio)
                                    : size.scaled(Stage, Qt::KeepAspectRatio);
}

Frames makeFrames(const Candidate &candidate, const Options &options, const std::atomic<bool> *cancel)
{
    Frames f;
    for (const QString &file : candidate.files) {
        QImageReader reader(file);
        do {
            if (cancel && *cancel)
                return f;
            QImage image = reader.read();
            if (image.isNull()) {
                f.error = QStringLiteral("«%1»: %2").arg(QFileInfo(file).fileName(), reader.errorString());
                return f;
            }
            f.images << image.convertToFormat(QImage::Format_ARGB32);
            f.delaysMs << (candidate.series ? 1000 / options.rate : std::max(20, reader.nextImageDelay()));
        } while (!candidate.series && reader.canRead());
    }
    if (options.columns * options.rows > 1 && f.images.size() == 1) {
        const QImage sheet = f.images.takeFirst();
        f.delaysMs.clear();
        const int w = sheet.width() / options.columns, h = sheet.height() / options.rows;
        for (int r = 0; r < options.rows; ++r)
            for (int c = 0; c < options.columns; ++c) {
                f.images << sheet.copy(c * w, r * h, w, h);
                f.delaysMs << 1000 / options.rate;
            }
    }
    for (QImage &image : f.images) {
        const QSize to = importedSize(image.size(), options.kind, options.keepSize);
        if (to != image.size())
            image = image.scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return f;
}

Written importInto(const Candidate &candidate, const Options &options, const QString &libraryFolder,
                   const std::atomic<bool> *cancel)
{
    Written w;
    const Frames f = makeFrames(candidate, options, cancel);
    if (!f.error.isEmpty() || f.images.isEmpty()) {
        w.error = f.error.isEmpty() ? QStringLiteral("«%1»: нет кадров").arg(candidate.name) : f.error;
        return w;
    }
    const QDir dir(libraryFolder + QLatin1Char('/') + folderName(options.kind));
    dir.mkpath(QStringLiteral("."));
    const QString ext = options.kind == Kind::Character ? QStringLiteral(".gif") : QStringLiteral(".png");
    QString path = dir.filePath(candidate.name + ext);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir.filePath(QStringLiteral("%1 (%2)%3").arg(candidate.name).arg(n).arg(ext));
    QString error;
    if (options.kind == Kind::Character) {
        anigif::GifDocument doc;
        doc.screen = f.images.first().size();
        for (int i = 0; i < f.images.size(); ++i)
            doc.frames << anigif::GifFrame{f.images[i], {}, f.delaysMs[i] / 10, anigif::Disposal::Background, false, {}};
        error = anigif::writeGif(path, doc);
    } else if (!f.images.first().save(path)) {
        error = QStringLiteral("не удалось записать файл");
    }
    if (error.isEmpty())
        w.path = path;
    else
        w.error = QStringLiteral("«%1»: %2").arg(candidate.name, error);
    return w;
}

} // namespace importing
