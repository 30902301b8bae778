// Recording, holding and saving slides of a typical scene: the start
// background, two walking characters, a prop. Every figure is a ratio to a
// baseline measured in the same run, or a memory size.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/AppState.h"
#include "app/frmMain.h"
#include "controls/Twips.h"
#include "slides/SlideFiles.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"

namespace {

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double rssMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

double msSince(QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

struct Scene {
    frmMain &w;
    void build()
    {
        const QString lib = QStringLiteral(VELLUMO_LIBRARY_DIR);
        const QStringList characters{lib + QStringLiteral("/objects/Кот идёт▸.gif"),
                                     lib + QStringLiteral("/objects/Робот идёт▸.gif")};
        for (int i = 1; i <= 2; ++i) {
            anigif::AniGif *c = w.AniGIF1.create(i);
            c->LoadFile(characters[i - 1]);
            twips::move(c, 300 + i * 1500, 1500 + i * 600);
            c->show();
        }
        controls::ImageControl *prop = w.Image1.create(1);
        prop->setPicture(QImage(lib + QStringLiteral("/articles/Дерево.gif")));
        twips::move(prop, 3600, 450);
        prop->show();
    }
    // The characters walk: one step across and one animation frame per slide.
    void step(int i)
    {
        for (int k = 1; k <= 2; ++k) {
            anigif::AniGif *c = w.AniGIF1.at(k);
            const int x = (k == 1 ? 45 * i : 5400 - 30 * i) % 6000;
            twips::move(c, x < 0 ? x + 6000 : x, twips::top(c));
            if (c->FrameCount() > 0)
                c->setCurrentFrame((c->CurrentFrame() + 1) % c->FrameCount());
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int total = qEnvironmentVariableIsSet("VELLUMO_BENCH_SLIDES")
                          ? std::max(2000, qEnvironmentVariableIntValue("VELLUMO_BENCH_SLIDES"))
                          : 10000;
    QTemporaryDir dir;
    AppState state;
    state.programFolder = dir.path();
    int failures = 0;
    state.message = [&](QWidget *, const controls::Message &m) {
        if (m.icon == controls::MsgIcon::Error) {
            ++failures;
            std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
        }
        return controls::MsgResult::Ok;
    };
    state.endProgram = [] {};
    frmMain w(state);
    w.show();
    Scene scene{w};
    scene.build();
    QCoreApplication::processEvents();
    const double rssStart = rssMiB();

    // ---- recording, slides 1 .. 2000 ----
    std::vector<double> record, render;
    QElapsedTimer t;
    for (int i = 1; i <= 2000; ++i) {
        scene.step(i);
        QCoreApplication::processEvents();
        t.start();
        const QImage alone = slides::captureStage(w.Picture7->client());
        render.push_back(msSince(t));
        t.start();
        w.SaveBuffer();
        record.push_back(msSince(t));
    }
    const double recMed = median(record), renMed = median(render);
    const double at10 = median(std::vector<double>(record.begin() + 5, record.begin() + 15));
    const double at2000 = median(std::vector<double>(record.end() - 10, record.end()));
    std::printf("recording: median %.3f ms per slide, rendering the stage alone %.3f ms: ratio %.1f\n", recMed,
                renMed, recMed / renMed);
    std::printf("recording: slide 2000 costs %.2f x slide 10 (medians of slides 6-15 and 1991-2000)\n",
                at2000 / at10);

    // ---- memory: on to `total` slides ----
    for (int i = 2001; i <= total; ++i) {
        scene.step(i);
        w.SaveBuffer();
    }
    const double rssEnd = rssMiB();
    frmBuffer *buffer = w.Buffer();
    std::printf("memory: %d slides, resident %.0f MiB in all (%.0f MiB before recording); slides packed in %.0f MiB, %d key slides\n",
                buffer->slideCount(), rssEnd, rssStart, double(buffer->store().packedBytes()) / 1048576.0,
                buffer->store().keyCount());

    // ---- the buffer window with all of them ----
    t.start();
    buffer->show();
    QCoreApplication::processEvents();
    const double openMs = msSince(t);
    std::vector<double> scroll;
    for (int k = 0; k <= 20; ++k) {
        t.start();
        buffer->VScroll1->setValue(buffer->VScroll1->maximum() * k / 20);
        buffer->repaint();
        scroll.push_back(msSince(t));
    }
    std::printf("buffer window: opening %.1f ms, scrolling to a new place and painting %.2f ms (median)\n", openMs,
                median(scroll));
    buffer->hide();

    // ---- saving 300 slides against plain writes of the same bytes ----
    {
        frmBuffer saveBuffer(state);
        for (int i = 1; i <= 300; ++i)
            saveBuffer.append(w.Buffer()->slide(i));
        std::vector<QByteArray> bytes;
        for (int i = 1; i <= 300; ++i)
            bytes.push_back(slides::bmpBytes(saveBuffer.slide(i)));
        // Every way of writing writes into the same folder, emptied just before: where a folder
        // lies on the disk decides much of how fast files are made in it.
        const QString folder = state.AnimationsFolder;
        enum Way { PlainQFile, Saving, BareCalls, WholeAlone, Ways };
        int writeErrors = 0;
        const auto rate = [&](int way) {
            QDir().mkpath(folder);
            slides::deleteFilesIn(folder);
            t.start();
            switch (way) {
            case PlainQFile:
                for (int i = 0; i < 300; ++i) {
                    QFile f(folder + slides::slideFileName(i + 1));
                    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes[size_t(i)]) < 0)
                        ++writeErrors;
                }
                break;
            case Saving:
                saveBuffer.Command2_Click();
                break;
            case BareCalls:
                for (int i = 0; i < 300; ++i) {
                    const QByteArray &b = bytes[size_t(i)];
                    const int fd = ::open(QFile::encodeName(folder + slides::slideFileName(i + 1)).constData(),
                                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
                    if (fd < 0 || ::write(fd, b.constData(), size_t(b.size())) != b.size())
                        ++writeErrors;
                    if (fd >= 0)
                        ::close(fd);
                }
                break;
            default:
                for (int i = 0; i < 300; ++i)
                    if (!slides::writeFileWhole(folder + slides::slideFileName(i + 1), bytes[size_t(i)]))
                        ++writeErrors;
            }
            return 300 / (msSince(t) / 1000);
        };
        // The page cache, the other users of this shared disk and the files deleted in the last
        // minutes (ext4 passes over freshly freed inodes when it makes a file) make the speed of
        // writing swing several-fold within seconds. Rounds are short and side by side, each round starts with
        // the next way so that every way comes first, second, ... equally often, and each round
        // gives its own ratios: their medians are the figures.
        constexpr int Rounds = 8 * Ways;
        std::vector<double> rates[Ways], ratio, ratioBare, ratioWhole;
        for (int round = 0; round < Rounds; ++round) {
            double r[Ways];
            for (int k = 0; k < Ways; ++k) {
                const int way = (round + k) % Ways;
                r[way] = rate(way);
                rates[way].push_back(r[way]);
            }
            ratio.push_back(r[Saving] / r[PlainQFile]);
            ratioBare.push_back(r[Saving] / r[BareCalls]);
            ratioWhole.push_back(r[WholeAlone] / r[PlainQFile]);
        }
        std::printf("saving: %.0f files/s, plain writes of the same BMP bytes with QFile %.0f files/s (medians of %d "
                    "rounds of 300 files); ratio %.2f (median of the rounds' ratios)\n",
                    median(rates[Saving]), median(rates[PlainQFile]), Rounds, median(ratio));
        std::printf("saving: against bare open/write/close calls (%.0f files/s) ratio %.2f; the same bytes written "
                    "whole-or-nothing alone (temporary name, then rename): %.2f of plain\n",
                    median(rates[BareCalls]), median(ratioBare), median(ratioWhole));
        if (writeErrors)
            std::printf("%d plain writes failed\n", writeErrors);
        QDir(folder).removeRecursively();
    }

    if (failures)
        std::printf("%d recordings failed\n", failures);
    return failures ? 1 : 0;
}
