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

#include "GifFrames.h"
#include "TypicalScene.h"
#include "app/AppState.h"
#include "app/frmMain.h"
#include "export/ExportJob.h"
#include "export/FrameSource.h"
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

// Peak signal-to-noise ratio of a GIF's frames against the slides, in dB;
// +inf when every frame is exact. -1 when the frame count differs.
double gifPsnr(const QString &path, const slides::SlideStore &store)
{
    double squares = 0;
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
        samples += qint64(slide.width()) * slide.height() * 3;
    });
    if (info.frames != store.count())
        return -1;
    if (squares == 0)
        return INFINITY;
    return 10 * std::log10(255.0 * 255.0 / (squares / double(samples)));
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
    const QString out = dir.path();
    const QStringList input{"-framerate", "12", "-i", bmps + "/%03d.bmp"};
    int failures = 0;

    // ---- GIF ----
    const QString ours = out + "/ours.gif", theirs = out + "/ffmpeg.gif", palette = out + "/palette.png";
    Outcome outcome;
    // The machine is shared: the two take turns, and the medians of three
    // rounds are compared.
    std::vector<double> ourGifs, theirGifs;
    for (int round = 0; round < 3; ++round) {
        ourGifs.push_back(timed([&] {
            StoreFrames frames(store);
            Quiet quiet;
            outcome = runExport(frames, Format::Gif, 12, ours, quiet);
        }));
        failures += outcome.status != Outcome::Written;
        theirGifs.push_back(timed([&] {
            failures += !ffmpeg(input + QStringList{"-vf", "palettegen=stats_mode=diff", palette}, out);
            failures += !ffmpeg(input + QStringList{"-i", palette, "-lavfi", "paletteuse=diff_mode=rectangle", theirs}, out);
        }));
    }
    const double ourGif = median(ourGifs), theirGif = median(theirGifs);
    const double ourSize = double(QFileInfo(ours).size()), theirSize = double(QFileInfo(theirs).size());
    const double ourPsnr = gifPsnr(ours, store), theirPsnr = gifPsnr(theirs, store);
    std::printf("gif: 1000 slides in %.2f s, ffmpeg palettegen+paletteuse %.2f s (medians of 3): time ratio %.2f (target <= 0.5)\n",
                ourGif, theirGif, ourGif / theirGif);
    std::printf("gif: %.2f MB against ffmpeg's %.2f MB: size ratio %.2f (target <= 0.8)\n", ourSize / 1e6,
                theirSize / 1e6, ourSize / theirSize);
    std::printf("gif: PSNR against the slides %s, ffmpeg's %.1f dB%s\n",
                std::isinf(ourPsnr) ? "exact (every pixel)" : qPrintable(QString::number(ourPsnr, 'f', 1) + " dB"),
                theirPsnr, ourPsnr >= theirPsnr ? "" : "  (worse)");

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
