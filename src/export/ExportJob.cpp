#include "export/ExportJob.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include "export/GifFileWriter.h"
#include "export/RememberedFrames.h"
#include "export/UnfinishedExports.h"
#include "export/VideoFileWriter.h"

namespace exporting {

QString suffixFor(Format format)
{
    switch (format) {
    case Format::Gif: return QStringLiteral(".gif");
    case Format::Mp4: return QStringLiteral(".mp4");
    case Format::WebM: return QStringLiteral(".webm");
    }
    return QString();
}

QString titleFor(Format format)
{
    switch (format) {
    case Format::Gif: return QStringLiteral("Анимированный GIF");
    case Format::Mp4: return QStringLiteral("Видео MP4 (H.264)");
    case Format::WebM: return QStringLiteral("Видео WebM (VP9)");
    }
    return QString();
}

std::optional<Format> formatForPath(const QString &path)
{
    for (Format f : AllFormats)
        if (path.endsWith(suffixFor(f), Qt::CaseInsensitive) && path.size() > suffixFor(f).size())
            return f;
    return std::nullopt;
}

std::unique_ptr<FrameWriter> makeWriter(Format format)
{
    if (format == Format::Gif)
        return std::make_unique<GifFileWriter>();
    return std::make_unique<VideoFileWriter>(format);
}

Outcome runExport(FrameSource &source, Format format, int fps, const QString &path, Progress &progress,
                  const QString &stateFolder)
{
    return runExport(source, makeWriter(format), fps, path, progress, stateFolder);
}

Outcome runExport(FrameSource &given, std::unique_ptr<FrameWriter> writer, int fps, const QString &path,
                  Progress &progress, const QString &stateFolder)
{
    const int passes = writer->wantsSurvey() ? 2 : 1;
    // Two passes over files read them once: the second takes them from memory.
    std::optional<RememberedFrames> remembered;
    FrameSource &source = passes == 2 && given.costlyToReread() ? remembered.emplace(given) : given;
    const int count = source.count();
    if (count <= 0)
        return {Outcome::Failed, QStringLiteral("Нет слайдов для экспорта")};
    if (fps < MinRate || fps > MaxRate)
        return {Outcome::Failed, QStringLiteral("Частота кадров должна быть от %1 до %2").arg(MinRate).arg(MaxRate)};
    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    const auto cannotWrite = [&](const QString &why) {
        return Outcome{Outcome::Failed, QStringLiteral("Не удалось записать файл «%1»: %2").arg(shown, why)};
    };

    const int total = count * passes;
    int done = 0;
    progress.report(0, total);

    Frame frame;
    QString error;
    // The first frame is read before the file is made: a source that cannot
    // be read leaves no file behind.
    if (!source.read(1, frame, error))
        return {Outcome::Failed, error};
    if (!writer->begin(path, frame.size, fps, count))
        return cannotWrite(writer->error());
    // Every way out below finishes or aborts the writer first, so the entry
    // goes only once its file is renamed or removed.
    const QString temporary = writer->temporaryPath();
    unfinished::record(stateFolder, temporary);
    const auto forget = qScopeGuard([&] { unfinished::forget(stateFolder, temporary); });

    for (int pass = passes; pass >= 1; --pass) {
        const bool surveying = pass == 2;
        for (int i = 1; i <= count; ++i) {
            if (progress.cancelled()) {
                writer->abort();
                return {Outcome::Cancelled, QString()};
            }
            // Frame 1 of the first pass is in hand already.
            if ((i > 1 || done > 0) && !source.read(i, frame, error)) {
                writer->abort();
                return {Outcome::Failed, error};
            }
            const bool ok = surveying ? writer->survey(frame) : writer->addFrame(frame, source.duration(i));
            if (!ok) {
                const QString why = writer->error();
                writer->abort();
                return cannotWrite(why);
            }
            progress.report(++done, total);
        }
    }
    if (progress.cancelled()) {
        writer->abort();
        return {Outcome::Cancelled, QString()};
    }
    if (!writer->finish())
        return cannotWrite(writer->error());
    return {Outcome::Written, QString()};
}

} // namespace exporting
