#include "importing/Frames.h"
#include "importing/Import.h"
#include "importing/Probe.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageReader>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "anigif/GifDecoder.h"
#include "files/Deadline.h"

namespace importing {

namespace {

QString quoted(const QString &path) { return QStringLiteral("«%1»").arg(QFileInfo(path).fileName()); }

// Frame i's delay at `rate` frames a second, rounded so that the delays add up to the true time.
int rateDelayMs(int i, int rate)
{
    return int(std::lround((i + 1) * 1000.0 / rate) - std::lround(i * 1000.0 / rate));
}

QImage scaledTo(const QImage &image, QSize size)
{
    if (image.size() == size)
        return image;
    // Scaled premultiplied, so that the colour of transparent pixels does not bleed into the edges.
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// The work of decodeFile, on the caller's thread.
Decoded decodeHere(const QString &path, bool allFrames)
{
    Decoded d;
    const Probe p = probePicture(path, &d.bytes);
    if (!p.problem.isEmpty()) {
        d.error = p.problem;
        return d;
    }
    d.format = p.format;
    if (p.format == "gif") {
        // Our decoder composes frames as browsers do; Qt's leaves trails of moving sprites.
        anigif::DecodedGif gif;
        if (!anigif::decodeGif(d.bytes, &gif) || gif.frames.isEmpty()) {
            d.error = gif.outOfMemory ? QStringLiteral("%1: не хватило памяти").arg(quoted(path))
                                      : QStringLiteral("%1: картинка повреждена").arg(quoted(path));
            return d;
        }
        d.truncated = gif.truncated;
        const qsizetype n = allFrames ? gif.frames.size() : 1;
        for (qsizetype i = 0; i < n; ++i) {
            d.images.append(gif.frames[i].convertToFormat(QImage::Format_ARGB32));
            d.delaysMs.append(gif.delaysMs.value(i, 100));
        }
        return d;
    }
    QBuffer buffer(&d.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, p.format);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        d.error = QStringLiteral("%1: картинка повреждена или обрезана").arg(quoted(path));
        return d;
    }
    d.images.append(image.convertToFormat(QImage::Format_ARGB32));
    d.delaysMs.append(0);
    return d;
}

QString notInTime(const QString &path)
{
    return QStringLiteral("%1: картинка не прочиталась (не хватило памяти или времени)").arg(quoted(path));
}

// The pictures of a series decoded and scaled on worker threads, one a core, while the caller takes them
// in order, waiting for each no longer than files::AssetTimeoutMs. The workers are detached and share
// this with the caller, so a picture that never ends reading holds up nobody.
struct SeriesJob {
    QStringList files;
    QSize from, to;
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::optional<Decoded>> results;
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};

    void work()
    {
        // Read through a const reference: a shared list's non-const access would copy it on every thread at once.
        const QStringList &list = files;
        for (int i = next++; i < list.size() && !stop; i = next++) {
            Decoded d;
            try {
                d = decodeHere(list.at(i), false);
                if (d.error.isEmpty() && d.images.front().size() == from)
                    d.images.front() = scaledTo(d.images.front(), to);
            } catch (...) {
                d = Decoded();
                d.error = notInTime(list.at(i));
            }
            std::lock_guard lock(mutex);
            results[size_t(i)] = std::move(d);
            ready.notify_all();
        }
    }
};

} // namespace

Decoded decodeFile(const QString &path, bool allFrames)
{
    std::optional<Decoded> r =
        files::runWithDeadline<Decoded>([path, allFrames] { return decodeHere(path, allFrames); });
    if (!r) {
        Decoded d;
        d.error = notInTime(path);
        return d;
    }
    return std::move(*r);
}

Frames makeFrames(const Candidate &candidate, const Options &options, const std::atomic<bool> *cancel)
{
    Frames f;
    auto fail = [&f](const QString &why) {
        f = Frames();
        f.error = why;
        return f;
    };
    if (!candidate.problem.isEmpty())
        return fail(candidate.problem);
    if (candidate.files.isEmpty())
        return fail(QStringLiteral("Нечего добавлять"));
    if (options.columns < 1 || options.rows < 1)
        return fail(QStringLiteral("В сетке кадров нужен хотя бы один столбец и одна строка"));
    // The GIF control plays no more frames than this; a grid of more would only be cut off.
    if (qint64(options.columns) * options.rows > anigif::MaxGifFrames || candidate.files.size() > anigif::MaxGifFrames)
        return fail(QStringLiteral("Кадров больше %1: столько персонаж не покажет").arg(anigif::MaxGifFrames));
    // A GIF counts delays in hundredths and players show a delay under 2 as 10: 50 frames a second at most.
    const int rate = std::clamp(options.rate, 1, 50);
    auto stopped = [cancel] { return cancel && cancel->load(); };

    qint64 bytes = 0;
    auto add = [&](const QImage &image, int delayMs, const QString &path) {
        const QImage scaled = scaledTo(image, importedSize(image.size(), options.kind, options.keepSize));
        bytes += scaled.sizeInBytes();
        if (bytes > MaxFramesBytes) {
            fail(QStringLiteral("%1: кадров такого размера слишком много (больше %2 МБ)")
                     .arg(quoted(path))
                     .arg(MaxFramesBytes >> 20));
            return false;
        }
        f.images.append(scaled);
        f.delaysMs.append(delayMs);
        return true;
    };

    if (candidate.series) {
        auto job = std::make_shared<SeriesJob>();
        job->files = candidate.files;
        job->from = candidate.size;
        job->to = importedSize(candidate.size, options.kind, options.keepSize);
        job->results.resize(size_t(candidate.files.size()));
        try {
            const int workers = std::min<int>(std::max(1, QThread::idealThreadCount()), int(candidate.files.size()));
            for (int k = 0; k < workers; ++k)
                std::thread([job] { job->work(); }).detach();
        } catch (const std::system_error &) {
            if (job->next == 0)
                return fail(QStringLiteral("Не удалось начать чтение картинок"));
        }
        struct Stop {
            SeriesJob &job;
            ~Stop() { job.stop = true; }
        } stopAtTheEnd{*job};
        for (int i = 0; i < candidate.files.size(); ++i) {
            Decoded d;
            {
                std::unique_lock lock(job->mutex);
                // Waited for in short steps, so that a cancel is seen at once.
                const auto deadline =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(files::AssetTimeoutMs);
                while (!job->results[size_t(i)]) {
                    if (stopped())
                        return fail(QStringLiteral("Отменено"));
                    if (std::chrono::steady_clock::now() >= deadline)
                        return fail(notInTime(candidate.files[i]));
                    job->ready.wait_for(lock, std::chrono::milliseconds(50));
                }
                d = std::move(*job->results[size_t(i)]);
                job->results[size_t(i)].reset();
            }
            if (!d.error.isEmpty())
                return fail(d.error);
            if (d.images.front().size() != job->to)
                return fail(QStringLiteral("%1: размер не такой, как у первой картинки серии")
                                .arg(quoted(candidate.files[i])));
            if (!add(d.images.front(), rateDelayMs(i, rate), candidate.files[i]))
                return f;
        }
        return f;
    }

    const QString &path = candidate.files.front();
    const bool sheet = qint64(options.columns) * options.rows > 1;
    Decoded d = decodeFile(path, !sheet);
    if (!d.error.isEmpty())
        return fail(d.error);
    if (!sheet) {
        for (int i = 0; i < d.images.size(); ++i) {
            if (stopped())
                return fail(QStringLiteral("Отменено"));
            const int delay = d.images.size() > 1 ? d.delaysMs[i] : rateDelayMs(0, rate);
            if (!add(d.images[i], delay, path))
                return f;
        }
        return f;
    }
    const QImage whole = d.images.front();
    if (whole.width() % options.columns != 0 || whole.height() % options.rows != 0)
        return fail(QStringLiteral("%1: картинку %2 × %3 точек нельзя разрезать поровну на %4 × %5 кадров "
                                   "(столбцы × строки)")
                        .arg(quoted(path))
                        .arg(whole.width())
                        .arg(whole.height())
                        .arg(options.columns)
                        .arg(options.rows));
    const QSize cell(whole.width() / options.columns, whole.height() / options.rows);
    for (int row = 0, i = 0; row < options.rows; ++row)
        for (int column = 0; column < options.columns; ++column, ++i) {
            if (stopped())
                return fail(QStringLiteral("Отменено"));
            if (!add(whole.copy(QRect(QPoint(column * cell.width(), row * cell.height()), cell)), rateDelayMs(i, rate),
                     path))
                return f;
        }
    return f;
}

} // namespace importing
