// Exporting the slides of a typical scene. Every figure is a ratio to the
// ffmpeg program doing the same job on the same slides in the same run, or a
// memory size, or a time on the window's own clock.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <tuple>

#include "GifFrames.h"
#include "TypicalScene.h"
#include "app/AppState.h"
#include "app/frmMain.h"
#include "TestCommon.h"
#include "export/ExportJob.h"
#include "export/VideoFileWriter.h"
#include "sound/Sound.h"
#include "export/FrameSource.h"
#include "export/GifFileWriter.h"
#include "export/frmExport.h"
#include "slides/SlideFiles.h"
#include "slides/frmBuffer.h"

using namespace exporting;

namespace {

class Quiet : public Progress {
public:
    std::function<void(int)> each;
    void report(int done, int) override
    {
        if (each)
            each(done);
    }
    bool cancelled() const override { return false; }
};

double timed(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e9;
}

// Runs the ffmpeg program; false when it failed or is missing.
bool ffmpeg(const QStringList &args, const QString &dir)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
        return false;
    }
    return true;
}

struct Quality {
    double psnr = -1; // dB over all frames; +inf when every pixel is exact, -1 when frames are missing
    double ssim = -1; // mean over frames, of luma in 8 x 8 windows every 4 pixels
};

double lumaAt(const uchar *bgr) { return 0.299 * bgr[2] + 0.587 * bgr[1] + 0.114 * bgr[0]; }

// Structural similarity of a frame to its slide, as ffmpeg's ssim filter
// measures it on luma: 8 x 8 windows, 4 pixels apart.
double frameSsim(const QImage &slide, const QImage &frame)
{
    const int w = slide.width(), h = slide.height();
    std::vector<double> a(size_t(w) * h), b(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const uchar *s = slide.constScanLine(y);
        const auto *f = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            a[size_t(y) * w + x] = lumaAt(s + 3 * x);
            b[size_t(y) * w + x] = 0.299 * qRed(f[x]) + 0.587 * qGreen(f[x]) + 0.114 * qBlue(f[x]);
        }
    }
    constexpr double C1 = 6.5025, C2 = 58.5225;
    double sum = 0;
    int windows = 0;
    for (int y = 0; y + 8 <= h; y += 4)
        for (int x = 0; x + 8 <= w; x += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    const double p = a[size_t(y + j) * w + x + i], q = b[size_t(y + j) * w + x + i];
                    sa += p, sb += q, saa += p * p, sbb += q * q, sab += p * q;
                }
            const double ma = sa / 64, mb = sb / 64;
            const double va = saa / 64 - ma * ma, vb = sbb / 64 - mb * mb, cov = sab / 64 - ma * mb;
            sum += (2 * ma * mb + C1) * (2 * cov + C2) / ((ma * ma + mb * mb + C1) * (va + vb + C2));
            ++windows;
        }
    return sum / windows;
}

// A GIF's frames against the slides.
Quality gifQuality(const QString &path, const slides::SlideStore &store)
{
    double squares = 0, ssims = 0;
    qint64 samples = 0;
    int held = 0;
    QImage slide(slides::SlideWidth, slides::SlideHeight, QImage::Format_BGR888);
    const testcommon::GifInfo info = testcommon::readGifFrames(path, [&](int i, const QImage &frame, int) {
        if (i > store.count() || !store.readOnInto(i, reinterpret_cast<char *>(slide.bits()), slide.bytesPerLine(), held))
            return;
        for (int y = 0; y < slide.height(); ++y) {
            const uchar *s = slide.constScanLine(y);
            const auto *f = reinterpret_cast<const QRgb *>(frame.constScanLine(y));
            for (int x = 0; x < slide.width(); ++x) {
                const int db = s[3 * x] - qBlue(f[x]), dg = s[3 * x + 1] - qGreen(f[x]), dr = s[3 * x + 2] - qRed(f[x]);
                squares += double(db * db + dg * dg + dr * dr);
            }
        }
        ssims += frameSsim(slide, frame);
        samples += qint64(slide.width()) * slide.height() * 3;
    });
    Quality q;
    if (info.frames != store.count())
        return q;
    q.ssim = ssims / info.frames;
    q.psnr = squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / (squares / double(samples)));
    return q;
}

QString decibels(double psnr)
{
    return std::isinf(psnr) ? QStringLiteral("exact") : QString::number(psnr, 'f', 2) + QStringLiteral(" dB");
}

// How much `gifsicle -O3` takes off a GIF without changing a pixel, as a
// fraction of its size; -1 when gifsicle is missing or failed.
double gifsicleShrink(const QString &path)
{
    const QString smaller = path + QStringLiteral(".O3.gif");
    QProcess p;
    p.start(QStringLiteral("gifsicle"), {QStringLiteral("-O3"), path, QStringLiteral("-o"), smaller});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    const double before = double(QFileInfo(path).size()), after = double(QFileInfo(smaller).size());
    QFile::remove(smaller);
    return 1 - after / before;
}

// One scene's GIF: ours from the store and from the saved folder (the
// command line's way), against ffmpeg's two-pass pipeline on the same BMP
// files; time, size, quality and what gifsicle would still take off.
// With `alone`, also the same export with each frame coded in turn on the
// exporting thread, against which the threads' gain is measured.
int compareGif(const QString &name, const slides::SlideStore &store, const QString &bmps, const QString &out,
               bool alone = false)
{
    int failures = 0;
    const QStringList input{"-framerate", "12", "-i", bmps + "/%03d.bmp"};
    const QString ours = out + "/" + name + ".gif", fromFolder = out + "/" + name + "-folder.gif",
                  theirs = out + "/" + name + "-ffmpeg.gif", palette = out + "/" + name + "-palette.png";
    Outcome outcome;
    // The machine is shared: the three take turns, and the medians of three
    // rounds are compared.
    std::vector<double> ourGifs, folderGifs, theirGifs, aloneGifs;
    for (int round = 0; round < 3; ++round) {
        if (alone) {
            aloneGifs.push_back(timed([&] {
                StoreFrames frames(store);
                Quiet quiet;
                outcome = runExport(frames, std::make_unique<GifFileWriter>(0), 12, out + "/" + name + "-alone.gif", quiet);
            }));
            failures += outcome.status != Outcome::Written;
        }
        ourGifs.push_back(timed([&] {
            StoreFrames frames(store);
            Quiet quiet;
            outcome = runExport(frames, Format::Gif, 12, ours, quiet);
        }));
        failures += outcome.status != Outcome::Written;
        folderGifs.push_back(timed([&] {
            FolderFrames frames;
            QString error;
            Quiet quiet;
            outcome = frames.open(bmps, error) ? runExport(frames, Format::Gif, 12, fromFolder, quiet) : Outcome{};
        }));
        failures += outcome.status != Outcome::Written;
        theirGifs.push_back(timed([&] {
            failures += !ffmpeg(input + QStringList{"-vf", "palettegen=stats_mode=diff", palette}, out);
            failures += !ffmpeg(input + QStringList{"-i", palette, "-lavfi",
                                                    "paletteuse=dither=sierra2_4a:diff_mode=rectangle", theirs},
                                out);
        }));
    }
    const double ourGif = median(ourGifs), folderGif = median(folderGifs), theirGif = median(theirGifs);
    const double ourSize = double(QFileInfo(ours).size()), theirSize = double(QFileInfo(theirs).size());
    const Quality our = gifQuality(ours, store), their = gifQuality(theirs, store);
    const QByteArray nameBytes = name.toUtf8();
    const char *n = nameBytes.constData();
    std::printf("gif %s: %d slides in %.2f s, from the folder %.2f s, ffmpeg palettegen+paletteuse %.2f s (medians of 3): "
                "time ratio %.2f, from the folder %.2f (target <= 0.5 on the typical scene)\n",
                n, store.count(), ourGif, folderGif, theirGif, ourGif / theirGif, folderGif / theirGif);
    if (alone)
        std::printf("gif %s: coding frames in turn on one thread %.2f s: threads take %.2f of that time\n",
                    n, median(aloneGifs), ourGif / median(aloneGifs));
    std::printf("gif %s: %.2f MB against ffmpeg's %.2f MB: size ratio %.2f (target <= 0.8 on the typical scene)\n", n,
                ourSize / 1e6, theirSize / 1e6, ourSize / theirSize);
    std::printf("gif %s: PSNR %s, ffmpeg's %s; SSIM %.4f, ffmpeg's %.4f%s\n", n, qPrintable(decibels(our.psnr)),
                qPrintable(decibels(their.psnr)), our.ssim, their.ssim,
                our.psnr >= their.psnr && our.ssim >= their.ssim ? "" : "  (worse)");
    const double shrink = gifsicleShrink(ours);
    if (shrink >= -0.5)
        std::printf("gif %s: gifsicle -O3 takes off %.1f %% (target <= 2)\n", n, shrink * 100);
    return failures;
}

// A slide of `store`'s size cut from a larger picture at (x, y).
QImage cut(const QImage &big, int x, int y) { return big.copy(x, y, slides::SlideWidth, slides::SlideHeight); }

// The stage pans across a meadow photo, twice its size, a few pixels a slide
// right and down: every pixel changes every slide.
void panScene(slides::SlideStore &store, int slides)
{
    const QImage photo = QImage(QStringLiteral(VELLUMO_LIBRARY_DIR "/fones/Луг.jpg"))
                             .scaled(800, 700, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    for (int i = 0; i < slides; ++i)
        store.append(cut(photo, 4 * i % 404, 3 * i % 354));
}

// Flat colours only: sky, ground, a sun and figures that move and change
// shape, drawn without smoothing, so the GIF must be exact.
void flatScene(slides::SlideStore &store, int slides)
{
    for (int i = 0; i < slides; ++i)
        store.append(testcommon::flatSlide(i));
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int many = manySlides(1000);
    QTemporaryDir dir;
    AppState state;
    quietProgram(state, dir.path());
    frmMain w(state);
    Scene scene{w};
    scene.record(1000);
    frmBuffer *buffer = w.Buffer();
    const slides::SlideStore &store = buffer->store();

    const QString bmps = dir.filePath(QStringLiteral("bmp"));
    QDir().mkpath(bmps);
    slides::writeSlideFiles(bmps + QLatin1Char('/'), store, [](int) {});
    // VELLUMO_BENCH_KEEP names a folder that keeps the files written, to look at them after.
    const QString keep = qEnvironmentVariable("VELLUMO_BENCH_KEEP");
    const QString out = keep.isEmpty() ? dir.path() : keep;
    QDir().mkpath(out);
    const QStringList input{"-framerate", "12", "-i", bmps + "/%03d.bmp"};
    int failures = 0;

    // VELLUMO_BENCH_GIF_TIMES=N: only the typical scene's GIF from the
    // buffer, N times, to compare builds in turns (bench/export/against.sh).
    if (qEnvironmentVariableIsSet("VELLUMO_BENCH_GIF_TIMES")) {
        std::vector<double> times;
        for (int i = 0; i < qEnvironmentVariableIntValue("VELLUMO_BENCH_GIF_TIMES"); ++i)
            times.push_back(timed([&] {
                StoreFrames frames(store);
                Quiet quiet;
                runExport(frames, Format::Gif, 12, out + "/times.gif", quiet);
            }));
        std::printf("gif times: median %.3f s of %zu\n", median(times), times.size());
        return 0;
    }
    // ---- GIF: the typical scene, a pan of a photo, flat colours ----
    failures += compareGif(QStringLiteral("typical"), store, bmps, out, true);
    for (const auto &[name, make, slides] :
         {std::tuple{QStringLiteral("pan"), &panScene, 100}, std::tuple{QStringLiteral("flat"), &flatScene, 300}}) {
        slides::SlideStore other;
        make(other, slides);
        const QString folder = out + "/" + name;
        QDir().mkpath(folder);
        slides::writeSlideFiles(folder + QLatin1Char('/'), other, [](int) {});
        failures += compareGif(name, other, folder, out);
    }
    Outcome outcome;

    if (qEnvironmentVariableIsSet("VELLUMO_BENCH_GIF_ONLY"))
        return failures ? 1 : 0;

    // ---- MP4 ----
    std::vector<double> ourMp4s, theirMp4s;
    for (int round = 0; round < 3; ++round) {
        ourMp4s.push_back(timed([&] {
            StoreFrames frames(store);
            Quiet quiet;
            outcome = runExport(frames, Format::Mp4, 12, out + "/ours.mp4", quiet);
        }));
        failures += outcome.status != Outcome::Written;
        theirMp4s.push_back(timed([&] {
            failures += !ffmpeg(input + QStringList{"-c:v", "libx264", "-preset", "medium", "-crf", "23", "-pix_fmt",
                                                    "yuv420p", "-movflags", "+faststart", out + "/ffmpeg.mp4"},
                                out);
        }));
    }
    const double ourMp4 = median(ourMp4s), theirMp4 = median(theirMp4s);
    std::printf("mp4: 1000 slides in %.2f s, ffmpeg with the same encoder settings %.2f s (medians of 3): time ratio %.2f (target <= 1.0)\n",
                ourMp4, theirMp4, ourMp4 / theirMp4);
    // The same MP4 with a song under it: a tone of the cartoon's length, mixed and encoded as the command
    // line's --sound does it, side by side with the export without sound.
    {
        sound::Pcm song;
        const qint64 length = sound::frameStart(1000, 12);
        song.samples.resize(size_t(length) * sound::Channels);
        for (qint64 i = 0; i < length; ++i)
            song.samples[size_t(i) * 2] = song.samples[size_t(i) * 2 + 1] = qint16(8000 * std::sin(i * 0.0576));
        std::vector<double> with, without, ratio;
        for (int round = 0; round < 3; ++round) {
            double r[2] = {0, 0};
            for (int k = 0; k < 2; ++k) {
                const int way = (round + k) % 2;
                r[way] = timed([&] {
                    StoreFrames frames(store);
                    Quiet quiet;
                    auto writer = std::make_unique<exporting::VideoFileWriter>(Format::Mp4);
                    if (way == 0)
                        writer->setSound(std::make_shared<sound::Pcm>(sound::mix({{&song, 0, 100}}, length)));
                    outcome = runExport(frames, std::move(writer), 12, out + "/sound.mp4", quiet);
                });
                failures += outcome.status != Outcome::Written;
                (way == 0 ? with : without).push_back(r[way]);
            }
            ratio.push_back(r[0] / r[1]);
        }
        std::printf("mp4 with a song under it: 1000 slides in %.2f s, without sound %.2f s: ratio %.2f (median of 3 "
                    "rounds' ratios; target <= 1.15)\n",
                    median(with), median(without), median(ratio));
    }
    const double ourWebm = timed([&] {
        StoreFrames frames(store);
        Quiet quiet;
        outcome = runExport(frames, Format::WebM, 12, out + "/ours.webm", quiet);
    });
    failures += outcome.status != Outcome::Written;
    std::printf("webm: 1000 slides in %.2f s (%.1f x real time)\n", ourWebm, 1000.0 / 12 / ourWebm);

    // ---- the window answers during an export ----
    {
        frmExport window(state, store, buffer);
        window.askSaveFile = [&](QWidget *, const QString &, const QString &, const QString &) {
            return out + "/window.gif";
        };
        window.show();
        QCoreApplication::processEvents();
        StallWatch stalls;
        bool ended = false;
        QObject::connect(&window, &frmExport::exportEnded, [&] { ended = true; });
        stalls.start();
        window.Command1_Click();
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::printf("window: longest event-loop stall during a GIF export of 1000 slides %.1f ms (target < 50)\n",
                    stalls.longestMs());
    }

    // ---- memory of an export of many slides ----
    for (int i = 1001; i <= many; ++i) {
        scene.step(i);
        w.SaveBuffer();
    }
    for (Format f : {Format::Gif, Format::Mp4}) {
        const double before = rssMiB();
        double peak = before;
        StoreFrames frames(store);
        Quiet sampler;
        sampler.each = [&](int done) {
            if (done % 100 == 0)
                peak = std::max(peak, rssMiB());
        };
        const double seconds = timed([&] { outcome = runExport(frames, f, 12, out + "/many" + suffixFor(f), sampler); });
        failures += outcome.status != Outcome::Written;
        std::printf("memory: %s export of %d slides raises resident memory by %.1f MiB (target < 100), %.1f s\n",
                    qPrintable(suffixFor(f)), store.count(), peak - before, seconds);
    }
    if (failures)
        std::printf("%d steps failed\n", failures);
    return failures ? 1 : 0;
}
