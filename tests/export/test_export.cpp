// Exported files: what a player reads back from them, and what a failed or
// cancelled export leaves behind.

#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "ExportTestKit.h"
#include "GifFrames.h"
#include "TestCommon.h"
#include "export/FrameSource.h"
#include "export/GifFileWriter.h"
#include "slides/SlideFiles.h"

using namespace exporting;

namespace {

Outcome exportStore(const slides::SlideStore &store, Format format, int fps, const QString &path, int cancelAt = -1)
{
    StoreFrames frames(store);
    kit::CancelAt progress(cancelAt);
    return runExport(frames, format, fps, path, progress);
}

bool samePixels(const QImage &a, const QImage &b)
{
    return a.convertToFormat(QImage::Format_RGB32) == b.convertToFormat(QImage::Format_RGB32);
}

double psnr(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            const int dr = qRed(p) - qRed(q), dg = qGreen(p) - qGreen(q), db = qBlue(p) - qBlue(q);
            sum += dr * dr + dg * dg + db * db;
        }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
private slots:
    void gifOfFewColoursEqualsTheSlides();
    void delaysAddUpToTheRunningTime();
    void gifOfManyColoursIsCloseAndStill();
    void gifOfAPanIsAsCloseAsFfmpegs();
    void gifOfOverAMillionColoursIsClose();
    void flatSlidesBeforeAPhotoKeepTheirColours();
    void videoHasEveryFrameAtTheRate_data();
    void videoHasEveryFrameAtTheRate();
    void cancelLeavesNothing_data();
    void cancelLeavesNothing();
    void fullDiskLeavesNothingAndKeepsTheOldFile();
    void missingFolderIsNamed();
    void oneSlideMakesAFile();
    void storeKnowsWhatChanged();
    void slidesDeletedAndPutBackExportAsTheyNowStand();
    void folderSlidesComeInNumericOrder();
    void badSlidesAreRefusedByName();
};

void TestExport::gifOfFewColoursEqualsTheSlides()
{
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 24);
    store.append(kit::cartoon(24)); // a slide like the one before still takes its time
    const QString path = dir.filePath(QStringLiteral("кино.gif"));
    const Outcome outcome = exportStore(store, Format::Gif, 12, path);
    QCOMPARE(outcome.status, Outcome::Written);
    QCOMPARE(kit::leftIn(dir.path()), QStringList{QStringLiteral("кино.gif")});

    QList<int> delays;
    int mismatch = 0;
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int delay) {
        delays << delay;
        if (!samePixels(frame, store.slide(i)) && !mismatch)
            mismatch = i;
    });
    QVERIFY2(info.error.isEmpty(), qPrintable(info.error));
    QCOMPARE(info.frames, 25);
    QCOMPARE(mismatch, 0);
    QCOMPARE(info.loopCount, 0);
    // 25 frames at 12 a second last 2.08 s, in steps of 8 and 9 centiseconds.
    QCOMPARE(info.totalDelayCs, 208);
    QCOMPARE(delays.mid(0, 6), (QList<int>{8, 8, 9, 8, 8, 9}));

    // Qt's reader composes the frames the same way.
    QImageReader reader(path);
    int frames = 0, totalMs = 0;
    for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read()) {
        ++frames;
        totalMs += reader.nextImageDelay();
        QVERIFY2(samePixels(frame, store.slide(frames)), qPrintable(QStringLiteral("frame %1").arg(frames)));
    }
    QCOMPARE(frames, 25);
    QCOMPARE(totalMs, 2080);
}

void TestExport::delaysAddUpToTheRunningTime()
{
    for (int fps = 1; fps <= 24; ++fps) {
        qint64 total = 0;
        const int shortest = 100 / fps, longest = (100 + fps - 1) / fps;
        for (int n = 1; n <= 240; ++n) {
            const int d = GifFileWriter::delayCs(n - 1, 1, fps);
            QVERIFY(d == shortest || d == longest);
            total += d;
            // N frames last N / fps seconds to within a centisecond.
            QVERIFY2(std::abs(double(total) - n * 100.0 / fps) < 1.0,
                     qPrintable(QStringLiteral("%1 fps, %2 frames: %3 cs").arg(fps).arg(n).arg(total)));
        }
    }
}

void TestExport::gifOfManyColoursIsCloseAndStill()
{
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 8, true);
    const QString path = dir.filePath(QStringLiteral("photo.gif"));
    QCOMPARE(exportStore(store, Format::Gif, 10, path).status, Outcome::Written);
    QImage first;
    int stillMoved = 0;
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        QVERIFY2(psnr(frame, store.slide(i)) > 30, qPrintable(QStringLiteral("frame %1").arg(i)));
        if (i == 1)
            first = frame;
        // The sky's far corner never changes: its dithered pixels must not flicker.
        else if (frame.copy(330, 300, 60, 40) != first.copy(330, 300, 60, 40))
            ++stillMoved;
    });
    QCOMPARE(info.frames, 8);
    QCOMPARE(stillMoved, 0);
}

// A pan across a photo-like picture twice the stage's size: every pixel
// changes every slide, and smooth gradients show any sideways streaks.
void TestExport::gifOfAPanIsAsCloseAsFfmpegs()
{
    QImage photo(800, 700, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int grain = int((uint32_t(x * 73856093) ^ uint32_t(y * 19349663)) % 13) - 6;
            photo.setPixel(x, y, qRgb(std::clamp(int(128 + 90 * std::sin(x / 53.0) * std::cos(y / 41.0)) + grain, 0, 255),
                                      std::clamp(int(120 + 80 * std::cos((x + y) / 67.0)) + grain, 0, 255),
                                      std::clamp(int(60 + y * 150 / 700 + 30 * std::sin(x / 29.0)), 0, 255)));
        }
    slides::SlideStore store;
    for (int i = 0; i < 20; ++i)
        store.append(photo.copy(7 * i, 5 * i, slides::SlideWidth, slides::SlideHeight));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pan.gif"));
    QCOMPARE(exportStore(store, Format::Gif, 12, path).status, Outcome::Written);
    double sum = 0;
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        sum += psnr(frame, store.slide(i));
    });
    QCOMPARE(info.frames, 20);
    // ffmpeg's two-pass pipeline (palettegen stats_mode=diff, paletteuse
    // sierra2_4a, diff_mode=rectangle) scores 29.9 dB on these slides; letting
    // pixels keep a colour well off their dithered pick scored 32.2.
    QVERIFY2(sum / 20 >= 32.5, qPrintable(QStringLiteral("mean PSNR %1 dB").arg(sum / 20)));
}

// More colours than the palette's count keeps one by one (nine slides of
// smooth gradients, no two pixels alike): the count merges close colours
// instead of growing without bound, and the GIF stays close to the slides.
void TestExport::gifOfOverAMillionColoursIsClose()
{
    slides::SlideStore store;
    std::vector<bool> seen(size_t(1) << 24);
    int distinct = 0;
    for (int k = 0; k < 9; ++k) {
        QImage slide(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
        for (int y = 0; y < slide.height(); ++y)
            for (int x = 0; x < slide.width(); ++x) {
                const QRgb c = qRgb(y * 255 / 349, x * 255 / 409, k * 28 + (x + y) % 28);
                slide.setPixel(x, y, c);
                distinct += !seen[c & 0xffffff];
                seen[c & 0xffffff] = true;
            }
        store.append(slide);
    }
    QVERIFY2(distinct > 1 << 20, qPrintable(QString::number(distinct)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("million.gif"));
    QCOMPARE(exportStore(store, Format::Gif, 12, path).status, Outcome::Written);
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        // One table of 255 colours for all nine: counting every colour apart
        // scored 24.5 to 27.3 dB a frame, the merged count 24.7 to 27.7.
        const double db = psnr(frame, store.slide(i));
        QVERIFY2(db > 24, qPrintable(QStringLiteral("frame %1: %2 dB").arg(i).arg(db)));
    });
    QCOMPARE(info.frames, 9);
}

// Slides of a few colours and then a photo: the colours of the first ones,
// seen while they still fitted a table, count in the palette all the same.
void TestExport::flatSlidesBeforeAPhotoKeepTheirColours()
{
    slides::SlideStore store;
    for (int i = 0; i < 4; ++i) {
        QImage flat(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
        flat.fill(qRgb(230, 30, 30));
        QPainter(&flat).fillRect(20 + 40 * i, 100, 120, 120, QColor(250, 220, 0));
        store.append(flat);
    }
    for (int i = 0; i < 4; ++i) {
        QImage photo(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(0, (x + 3 * i) * 255 / 410, y * 255 / 346));
        store.append(photo);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mixed.gif"));
    QCOMPARE(exportStore(store, Format::Gif, 12, path).status, Outcome::Written);
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        const double db = psnr(frame, store.slide(i));
        QVERIFY2(db > 35, qPrintable(QStringLiteral("frame %1: %2 dB").arg(i).arg(db)));
    });
    QCOMPARE(info.frames, 8);
}

void TestExport::videoHasEveryFrameAtTheRate_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("codec");
    QTest::addColumn<int>("fps");
    QTest::addColumn<int>("slides");
    QTest::addColumn<int>("frameRate"); // in the file: a slow MP4 repeats each slide
    QTest::newRow("mp4") << int(Format::Mp4) << int(AV_CODEC_ID_H264) << 10 << 30 << 10;
    QTest::newRow("webm") << int(Format::WebM) << int(AV_CODEC_ID_VP9) << 10 << 30 << 10;
    QTest::newRow("mp4 at 1 fps") << int(Format::Mp4) << int(AV_CODEC_ID_H264) << 1 << 5 << 10;
    QTest::newRow("mp4 at 3 fps") << int(Format::Mp4) << int(AV_CODEC_ID_H264) << 3 << 6 << 12;
}

void TestExport::videoHasEveryFrameAtTheRate()
{
    QFETCH(int, format);
    QFETCH(int, codec);
    QFETCH(int, fps);
    QFETCH(int, slides);
    QFETCH(int, frameRate);
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, slides);
    const QString path = dir.filePath(QStringLiteral("фильм") + suffixFor(Format(format)));
    QCOMPARE(exportStore(store, Format(format), fps, path).status, Outcome::Written);
    QCOMPARE(kit::leftIn(dir.path()).size(), 1);

    AVFormatContext *in = nullptr;
    QCOMPARE(avformat_open_input(&in, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
    QVERIFY(avformat_find_stream_info(in, nullptr) >= 0);
    QCOMPARE(int(in->nb_streams), 1);
    const AVStream *st = in->streams[0];
    QCOMPARE(int(st->codecpar->codec_id), codec);
    QCOMPARE(st->codecpar->format, int(AV_PIX_FMT_YUV420P));
    QCOMPARE(st->codecpar->width, 396);
    QCOMPARE(st->codecpar->height, 346);
    QCOMPARE(av_q2d(st->avg_frame_rate), double(frameRate));
    // Tagged with what the conversion did and what the slides are, so that no player has to guess.
    QCOMPARE(int(st->codecpar->color_space), int(AVCOL_SPC_SMPTE170M));
    QCOMPARE(int(st->codecpar->color_range), int(AVCOL_RANGE_MPEG));
    QCOMPARE(int(st->codecpar->color_primaries), int(AVCOL_PRI_BT709));
    QCOMPARE(int(st->codecpar->color_trc), int(AVCOL_TRC_IEC61966_2_1));
    int packets = 0;
    qint64 end = 0;
    int sinceKey = 0, longestWithoutKey = 0;
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) >= 0) {
        ++packets;
        end = std::max<qint64>(end, pkt->pts + pkt->duration);
        sinceKey = (pkt->flags & AV_PKT_FLAG_KEY) ? 1 : sinceKey + 1;
        longestWithoutKey = std::max(longestWithoutKey, sinceKey);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    const double seconds = double(end) * av_q2d(st->time_base) - double(std::max<int64_t>(st->start_time, 0)) * av_q2d(st->time_base);
    avformat_close_input(&in);
    QCOMPARE(packets, slides * frameRate / fps);
    // The last slide shows for its whole time, and a key frame comes at least every two seconds.
    QVERIFY2(std::abs(seconds - double(slides) / fps) < 0.002, qPrintable(QString::number(seconds)));
    QVERIFY2(longestWithoutKey <= 2 * frameRate, qPrintable(QString::number(longestWithoutKey)));

    if (Format(format) == Format::Mp4) {
        // Fast start: the index comes before the pictures.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.indexOf("moov") >= 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
    }
}

void TestExport::cancelLeavesNothing_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("gif") << int(Format::Gif);
    QTest::newRow("mp4") << int(Format::Mp4);
    QTest::newRow("webm") << int(Format::WebM);
}

void TestExport::cancelLeavesNothing()
{
    QFETCH(int, format);
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 20, true);
    // Halfway through writing (a GIF reads every slide once before it writes).
    const int half = Format(format) == Format::Gif ? 30 : 10;
    const Outcome outcome =
        exportStore(store, Format(format), 12, dir.filePath(QStringLiteral("x") + suffixFor(Format(format))), half);
    QCOMPARE(outcome.status, Outcome::Cancelled);
    QCOMPARE(kit::leftIn(dir.path()), QStringList());
}

void TestExport::fullDiskLeavesNothingAndKeepsTheOldFile()
{
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 10, true);
    const QString path = dir.filePath(QStringLiteral("old.gif"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("an older cartoon");
    old.close();

    for (Format format : {Format::Gif, Format::Mp4}) {
        const QString target = format == Format::Gif ? path : dir.filePath(QStringLiteral("new.mp4"));
        testcommon::FileSizeLimit limit(4000);
        QVERIFY(limit.ok());
        const Outcome outcome = exportStore(store, format, 12, target);
        limit.lift();

        QCOMPARE(outcome.status, Outcome::Failed);
        QVERIFY2(outcome.message.contains(QStringLiteral("Файл слишком велик")), qPrintable(outcome.message));
        QVERIFY2(outcome.message.contains(QFileInfo(target).fileName()), qPrintable(outcome.message));
        QCOMPARE(kit::leftIn(dir.path()), QStringList{QStringLiteral("old.gif")});
    }
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("an older cartoon"));
}

void TestExport::missingFolderIsNamed()
{
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 3);
    const QString path = dir.filePath(QStringLiteral("gone/x.gif"));
    const Outcome outcome = exportStore(store, Format::Gif, 12, path);
    QCOMPARE(outcome.status, Outcome::Failed);
    QCOMPARE(outcome.message, QStringLiteral("Не удалось записать файл «%1»: Нет такого файла или каталога")
                                  .arg(QDir::toNativeSeparators(path)));

    slides::SlideStore empty;
    QCOMPARE(exportStore(empty, Format::Mp4, 12, dir.filePath(QStringLiteral("y.mp4"))).message,
             QStringLiteral("Нет слайдов для экспорта"));
    QCOMPARE(kit::leftIn(dir.path()), QStringList());
}

void TestExport::oneSlideMakesAFile()
{
    // Mid grey: BT.601 in limited range makes it Y 125.93, U and V 128, which the conversion must round,
    // not cut down (cut down, every colour came out up to three levels darker).
    QTemporaryDir dir;
    slides::SlideStore store;
    QImage grey(396, 346, QImage::Format_RGB888);
    grey.fill(QColor(128, 128, 128));
    QVERIFY(store.append(grey));
    for (Format format : AllFormats) {
        const QString path = dir.filePath(QStringLiteral("one") + suffixFor(format));
        QCOMPARE(exportStore(store, format, 12, path).status, Outcome::Written);
        AVFormatContext *in = nullptr;
        QCOMPARE(avformat_open_input(&in, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
        QVERIFY(avformat_find_stream_info(in, nullptr) >= 0);
        AVCodecContext *codec = nullptr;
        if (format != Format::Gif) {
            codec = avcodec_alloc_context3(avcodec_find_decoder(in->streams[0]->codecpar->codec_id));
            avcodec_parameters_to_context(codec, in->streams[0]->codecpar);
            QCOMPARE(avcodec_open2(codec, nullptr, nullptr), 0);
        }
        int packets = 0;
        AVPacket *pkt = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        while (av_read_frame(in, pkt) >= 0) {
            ++packets;
            if (codec)
                avcodec_send_packet(codec, pkt);
            av_packet_unref(pkt);
        }
        if (codec) {
            avcodec_send_packet(codec, nullptr);
            QCOMPARE(avcodec_receive_frame(codec, frame), 0);
            const auto at = [&](int plane, int x, int y) { return int(frame->data[plane][y * frame->linesize[plane] + x]); };
            QCOMPARE((QList<int>{at(0, 198, 173), at(1, 99, 86), at(2, 99, 86)}), (QList<int>{126, 128, 128}));
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&codec);
        avformat_close_input(&in);
        QCOMPARE(packets, 1);
    }
}

void TestExport::storeKnowsWhatChanged()
{
    slides::SlideStore store;
    kit::fill(store, 6);
    store.append(kit::cartoon(6));
    const QRect whole(0, 0, 396, 346);
    QCOMPARE(store.changedRect(1), whole);
    QCOMPARE(store.changedRect(7), QRect());
    for (int i = 2; i <= 6; ++i) {
        const QImage a = store.slide(i - 1), b = store.slide(i);
        const QRect truth = differingRect(a.constBits(), b.constBits(), a.bytesPerLine(), a.size());
        // The store's rectangle holds every change; it may only be as wide as its runs.
        const QRect told = store.changedRect(i);
        QVERIFY(told.contains(truth));
        QCOMPARE(told.top(), truth.top());
        QCOMPARE(told.bottom(), truth.bottom());
    }
    QCOMPARE(store.changedRect(0), QRect());
    QCOMPARE(store.changedRect(8), QRect());
}

// Deleting slides packs the one after the gap against its new neighbour; what
// the export reads as changed must follow, or the GIF would show stale pixels.
void TestExport::slidesDeletedAndPutBackExportAsTheyNowStand()
{
    QTemporaryDir dir;
    slides::SlideStore store;
    kit::fill(store, 30);
    std::vector<slides::SlideStore::Packed> gone, back;
    QVERIFY(store.take(8, 5, gone));             // slides 8..12 go
    QVERIFY(store.take(3, 2, back));             // two more go
    QVERIFY(store.insert(3, std::move(back)));   // and come back, as an undo puts them
    for (int i = 2; i <= store.count(); ++i) {
        const QImage a = store.slide(i - 1), b = store.slide(i);
        QVERIFY2(store.changedRect(i).contains(differingRect(a.constBits(), b.constBits(), a.bytesPerLine(), a.size())),
                 qPrintable(QStringLiteral("slide %1").arg(i)));
    }
    const QString path = dir.filePath(QStringLiteral("после.gif"));
    QCOMPARE(exportStore(store, Format::Gif, 12, path).status, Outcome::Written);
    int mismatch = 0;
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        if (!samePixels(frame, store.slide(i)) && !mismatch)
            mismatch = i;
    });
    QCOMPARE(info.frames, store.count());
    QCOMPARE(mismatch, 0);
}

void TestExport::folderSlidesComeInNumericOrder()
{
    QTemporaryDir dir;
    for (const char *name : {"002.bmp", "001.bmp", "1000.bmp", "999.bmp", "004.bmp"})
        QVERIFY(slides::writeBmp(dir.filePath(QString::fromLatin1(name)), kit::cartoon(1)));
    QFile(dir.filePath(QStringLiteral("notes.txt"))).open(QIODevice::WriteOnly);
    FolderFrames frames;
    QString error;
    QVERIFY(frames.open(dir.path(), error));
    QStringList names;
    for (const QString &f : frames.files())
        names << QFileInfo(f).fileName();
    QCOMPARE(names, (QStringList{"001.bmp", "002.bmp", "004.bmp", "999.bmp", "1000.bmp"}));
    QCOMPARE(frames.firstGap(), 3);

    QTemporaryDir empty;
    QVERIFY(!frames.open(empty.path(), error));
    QVERIFY(error.contains(QStringLiteral("нет слайдов")));
    QVERIFY(!frames.open(empty.filePath(QStringLiteral("nowhere")), error));
    QVERIFY(error.contains(QStringLiteral("не найдена")));
}

void TestExport::badSlidesAreRefusedByName()
{
    QTemporaryDir dir;
    for (int i = 1; i <= 3; ++i)
        QVERIFY(slides::writeBmp(dir.filePath(slides::slideFileName(i)), kit::cartoon(i)));
    QTemporaryDir out;
    FolderFrames frames;
    QString error;
    QVERIFY(frames.open(dir.path(), error));
    kit::CancelAt never(-1);
    QCOMPARE(runExport(frames, Format::Gif, 12, out.filePath(QStringLiteral("ok.gif")), never).status,
             Outcome::Written);

    QImage small(200, 100, QImage::Format_RGB32);
    small.fill(Qt::white);
    QVERIFY(small.save(dir.filePath(QStringLiteral("002.bmp")), "BMP"));
    for (Format format : {Format::Gif, Format::Mp4}) {
        const Outcome outcome = runExport(frames, format, 12, out.filePath(QStringLiteral("bad") + suffixFor(format)), never);
        QCOMPARE(outcome.status, Outcome::Failed);
        QVERIFY2(outcome.message.contains(QStringLiteral("002.bmp")) && outcome.message.contains(QStringLiteral("200 × 100")),
                 qPrintable(outcome.message));
    }
    QFile corrupt(dir.filePath(QStringLiteral("002.bmp")));
    QVERIFY(corrupt.open(QIODevice::WriteOnly | QIODevice::Truncate));
    corrupt.write("BM not really a bitmap");
    corrupt.close();
    const Outcome outcome = runExport(frames, Format::Gif, 12, out.filePath(QStringLiteral("bad.gif")), never);
    QCOMPARE(outcome.status, Outcome::Failed);
    QVERIFY2(outcome.message.contains(QStringLiteral("002.bmp")) && outcome.message.contains(QStringLiteral("повреждён")),
             qPrintable(outcome.message));
    QCOMPARE(kit::leftIn(out.path()), QStringList{QStringLiteral("ok.gif")});
}

QTEST_GUILESS_MAIN(TestExport)
#include "test_export.moc"
