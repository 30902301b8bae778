// Importing a numbered series of 100 PNG pictures of 400 x 350 as one character, against decoding the
// same PNGs with Qt and writing a GIF with giflib by the simplest loop (each frame's exact colours as its
// own table, or giflib's own quantiser when there are more than 256). Two series: a drawing of flat
// colours, and the same drawing with smoothed edges, whose colours run into the thousands.

#include <QApplication>
#include <QPushButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "importing/Import.h"
#include "importing/frmImport.h"

#include "EventLoopWatch.h"

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Frame i of a character walking across the stage: a body, a head, two legs, an eye.
QImage walker(int i, bool smooth)
{
    QImage image(400, 350, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, smooth);
    p.setPen(QPen(Qt::black, 3));
    const int x = 40 + i * 3;
    const int swing = (i % 8 < 4 ? i % 4 : 4 - i % 4) * 8;
    p.setBrush(QColor(230, 120, 40));
    p.drawEllipse(QRect(x, 120, 120, 150));
    p.setBrush(QColor(250, 200, 150));
    p.drawEllipse(QRect(x + 20, 40, 80, 80));
    p.setBrush(QColor(60, 60, 160));
    p.drawRect(QRect(x + 20 + swing, 260, 25, 70));
    p.drawRect(QRect(x + 75 - swing, 260, 25, 70));
    p.setBrush(Qt::white);
    p.drawEllipse(QRect(x + 60, 65, 18, 18));
    return image;
}

QStringList writeSeries(const QString &folder, bool smooth)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 1; i <= 100; ++i) {
        paths << QDir(folder).filePath(QStringLiteral("walk_%1.png").arg(i, 3, 10, QLatin1Char('0')));
        walker(i, smooth).save(paths.back(), "PNG");
    }
    return paths;
}

// The baseline: each PNG decoded by Qt, its colours given a table of their own (or giflib's quantiser when
// they do not fit), the frame handed to giflib whole.
bool simplestLoop(const QStringList &paths, const QString &out)
{
    int error = 0;
    GifFileType *gif = EGifOpenFileName(out.toLocal8Bit().constData(), false, &error);
    if (!gif)
        return false;
    EGifSetGifVersion(gif, true);
    bool ok = true;
    std::vector<GifByteType> pixels;
    for (int f = 0; ok && f < paths.size(); ++f) {
        const QImage image = QImage(paths[f]).convertToFormat(QImage::Format_ARGB32);
        const int w = image.width(), h = image.height();
        pixels.assign(size_t(w) * size_t(h), 0);
        QHash<QRgb, int> index;
        std::vector<GifColorType> colours{{0, 0, 0}}; // 0 is transparent
        bool fits = true;
        for (int y = 0; y < h && fits; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < w && fits; ++x) {
                if (qAlpha(row[x]) < 128)
                    continue;
                auto it = index.find(row[x]);
                if (it == index.end()) {
                    fits = colours.size() < 256;
                    it = index.insert(row[x], int(colours.size()));
                    const QRgb c = row[x];
                    colours.push_back({GifByteType(qRed(c)), GifByteType(qGreen(c)), GifByteType(qBlue(c))});
                }
                pixels[size_t(y) * size_t(w) + size_t(x)] = GifByteType(*it);
            }
        }
        int count = 256;
        if (!fits) {
            std::vector<GifByteType> r(pixels.size()), g(pixels.size()), b(pixels.size());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const QRgb c = image.pixel(x, y);
                    const size_t at = size_t(y) * size_t(w) + size_t(x);
                    r[at] = GifByteType(qRed(c)), g[at] = GifByteType(qGreen(c)), b[at] = GifByteType(qBlue(c));
                }
            colours.assign(256, {0, 0, 0});
            ok = GifQuantizeBuffer(unsigned(w), unsigned(h), &count, r.data(), g.data(), b.data(), pixels.data(),
                                   colours.data()) == GIF_OK;
        }
        colours.resize(256, {0, 0, 0});
        ColorMapObject *map = GifMakeMapObject(256, colours.data());
        if (f == 0) {
            const GifByteType loop[3] = {1, 0, 0};
            ok = ok && EGifPutScreenDesc(gif, w, h, 8, 0, nullptr) == GIF_OK &&
                 EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
                 EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
                 EGifPutExtensionBlock(gif, 3, loop) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
        }
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSE_BACKGROUND;
        gcb.DelayTime = 8;
        gcb.TransparentColor = fits ? 0 : NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, w, h, false, map) == GIF_OK &&
             EGifPutLine(gif, pixels.data(), w * h) == GIF_OK;
        GifFreeMapObject(map);
    }
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    int failures = 0;
    for (const bool smooth : {false, true}) {
        const QString folder = dir.filePath(smooth ? QStringLiteral("smooth") : QStringLiteral("flat"));
        const QStringList paths = writeSeries(folder, smooth);
        std::vector<double> ours, plain, ratios;
        qint64 ourBytes = 0, plainBytes = 0;
        for (int round = 0; round < 5; ++round) {
            const QString library = dir.filePath(QStringLiteral("library%1%2").arg(smooth).arg(round));
            QElapsedTimer t;
            t.start();
            const QList<importing::Candidate> found = importing::candidatesFor(paths);
            importing::Options options;
            options.kind = importing::Kind::Character;
            const importing::Written written =
                found.size() == 1 ? importing::importInto(found.front(), options, library) : importing::Written();
            ours.push_back(double(t.nsecsElapsed()) / 1e6);
            failures += written.path.isEmpty();
            ourBytes = QFileInfo(written.path).size();

            const QString out = dir.filePath(QStringLiteral("plain.gif"));
            t.restart();
            failures += !simplestLoop(paths, out);
            plain.push_back(double(t.nsecsElapsed()) / 1e6);
            plainBytes = QFileInfo(out).size();
            ratios.push_back(ours.back() / plain.back());
        }
        std::printf("import of 100 PNGs of 400 x 350 (%s): %.0f ms, Qt and giflib's simplest loop %.0f ms: "
                    "ratio %.2f (median of 5 rounds' ratios); %.0f KiB against %.0f KiB\n",
                    smooth ? "smoothed edges, thousands of colours" : "flat colours", median(ours), median(plain),
                    median(ratios), double(ourBytes) / 1024.0, double(plainBytes) / 1024.0);
    }

    // ---- the import window keeps answering while it previews and writes a series ----
    {
        EventLoopWatch watch;
        const QList<importing::Candidate> found = importing::candidatesFor(writeSeries(dir.filePath("window"), true));
        importing::frmImport window(found, dir.filePath(QStringLiteral("library-window")),
                         [&failures](QWidget *, const controls::Message &) {
                             ++failures;
                             return controls::MsgResult::Ok;
                         });
        watch.restart();
        window.show();
        QElapsedTimer waited;
        waited.start();
        while (!window.previewReady() && waited.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const qint64 previewing = watch.longest();
        failures += !window.previewReady();
        watch.restart();
        window.cmdAdd->click();
        const qint64 writing = watch.longest();
        failures += window.imported().size() != 1;
        std::printf("the import window's longest wait between two events: %lld ms while it previews 100 pictures, "
                    "%lld ms while it writes them\n",
                    previewing, writing);
    }
    if (failures)
        std::printf("%d failures\n", failures);
    return failures ? 1 : 0;
}
