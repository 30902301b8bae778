// Recording, holding and saving slides of a typical scene: the start
// background, two walking characters, a prop. Every figure is a ratio to a
// baseline measured in the same run, or a memory size.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <vector>

#include "TypicalScene.h"
#include "app/AppState.h"
#include "app/frmMain.h"
#include "controls/Twips.h"
#include "slides/Journal.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideFiles.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int total = manySlides(2000);
    QTemporaryDir dir;
    AppState state;
    int failures = 0;
    quietProgram(state, dir.path(), &failures);
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
    std::printf("recording: median %.3f ms per slide, rendering the stage alone %.3f ms: ratio %.2f\n", recMed,
                renMed, recMed / renMed);
    std::printf("recording: slide 2000 costs %.2f x slide 10 (medians of slides 6-15 and 1991-2000)\n",
                at2000 / at10);

    // ---- the same with the recovery journal on, as the program always runs ----
    {
        QTemporaryDir stateDir;
        AppState journaled = state;
        journaled.stateFolder = stateDir.path();
        frmMain j(journaled);
        j.show();
        Scene sceneJ{j};
        sceneJ.build();
        QCoreApplication::processEvents();
        std::vector<double> recordJ, renderJ;
        for (int i = 1; i <= 2000; ++i) {
            sceneJ.step(i);
            QCoreApplication::processEvents();
            t.start();
            const QImage alone = slides::captureStage(j.Picture7->client());
            renderJ.push_back(msSince(t));
            t.start();
            j.SaveBuffer();
            recordJ.push_back(msSince(t));
        }
        std::printf("recording with the journal on: median %.3f ms per slide, rendering the stage alone %.3f ms: "
                    "ratio %.2f\n",
                    median(recordJ), median(renderJ), median(recordJ) / median(renderJ));
        j.Buffer()->slides().saved();
    }

    // VELLUMO_BENCH_RECORDING_ONLY: the recording with and without the journal, nothing else.
    const bool recordingOnly = qEnvironmentVariableIsSet("VELLUMO_BENCH_RECORDING_ONLY");
    if (!recordingOnly) {
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

        // ---- a 5-minute MP3 given to a slide: its mark shows without waiting for the sound to be decoded ----
        {
            const QString mp3 = dir.filePath(QStringLiteral("song.mp3"));
            QProcess ffmpeg;
            ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                    "sine=frequency=440:duration=300", "-ac", "2", "-b:a", "128k", mp3});
            if (ffmpeg.waitForFinished(120000) && QFileInfo::exists(mp3)) {
                buffer->VScroll1->setValue(0);
                buffer->repaint();
                t.start();
                const bool added = buffer->attachSound(1, mp3);
                buffer->Picture1->repaint();
                const double markMs = msSince(t);
                std::printf("sound: a 5-minute MP3 (%.1f MB) given to a slide, its mark painted in %.1f ms (bar 100 ms)%s\n",
                            QFileInfo(mp3).size() / 1e6, markMs, added ? "" : " - REFUSED");
                if (added)
                    buffer->slides().undo();
            } else {
                std::printf("sound: no ffmpeg program to make the MP3 with\n");
            }
        }
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
                QDir(folder).removeRecursively();
                QDir().mkpath(folder);
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
    }

    // ---- the recovery journal: recording with it against recording without it ----
    {
        QTemporaryDir stateDir;
        AppState journaled = state;
        journaled.stateFolder = stateDir.path();
        journaled.message = state.message;
        AppState plain = state;
        plain.stateFolder.clear();
        frmMain with(journaled), without(plain);
        with.show();
        without.show();
        Scene sceneWith{with}, sceneWithout{without};
        sceneWith.build();
        sceneWithout.build();
        QCoreApplication::processEvents();
        // Side by side, slide by slide, so that the machine's mood falls on both alike.
        std::vector<double> withMs, withoutMs;
        for (int i = 1; i <= 2000; ++i) {
            sceneWith.step(i);
            sceneWithout.step(i);
            QCoreApplication::processEvents();
            const bool first = i % 2;
            for (int k = 0; k < 2; ++k) {
                frmMain &target = (k == 0) == first ? with : without;
                t.start();
                target.SaveBuffer();
                ((k == 0) == first ? withMs : withoutMs).push_back(msSince(t));
            }
        }
        with.Buffer()->slides().flushJournal(10000);
        std::printf("journal: recording %.3f ms per slide with it, %.3f ms without (medians of 2000): ratio %.2f; "
                    "journal %.1f MiB for %.1f MiB of packed slides\n",
                    median(withMs), median(withoutMs), median(withMs) / median(withoutMs),
                    double(QFileInfo(with.Buffer()->slides().journalPath()).size()) / 1048576.0,
                    double(with.Buffer()->store().packedBytes()) / 1048576.0);
        if (recordingOnly)
            return 0;
        // After a save the next change starts a new journal, which first carries every slide held.
        with.Buffer()->slides().saved();
        sceneWith.step(2001);
        QCoreApplication::processEvents();
        t.start();
        with.SaveBuffer();
        const double firstAfterSave = msSince(t);
        std::printf("journal: the first recording after a save, which writes the %d slides held into a new journal, "
                    "%.1f ms\n",
                    with.Buffer()->slideCount() - 1, firstAfterSave);
        with.Buffer()->slides().saved();
    }

    // ---- recovering every slide of the buffer at start-up against reading the journal's bytes ----
    {
        frmBuffer *buffer = w.Buffer();
        const int n = buffer->slideCount();
        QByteArray journalBytes = slides::journal::header();
        for (int i = 1; i <= n; ++i) {
            quint8 flags = 0;
            const QByteArrayView bytes = buffer->store().packedView(i, flags);
            journalBytes += slides::journal::record(slides::journal::Type::Append, flags, bytes);
        }
        QTemporaryDir stateDir;
        const QString master = stateDir.filePath(QStringLiteral("master.bin"));
        const QString folder = stateDir.filePath(QStringLiteral("state"));
        QDir().mkpath(folder);
        QFile out(master);
        out.open(QIODevice::WriteOnly);
        out.write(journalBytes);
        out.close();
        journalBytes = QByteArray();
        std::vector<double> readMs, recoverMs;
        int recovered = 0;
        for (int round = 0; round < 7; ++round) {
            const QString path = folder + QStringLiteral("/journal-1-1.vlj");
            QFile::remove(path);
            QFile::copy(master, path);
            // Read once before timing, so that both read from a warm cache.
            {
                QFile f(path);
                f.open(QIODevice::ReadOnly);
                f.readAll();
            }
            t.start();
            {
                QFile f(path);
                f.open(QIODevice::ReadOnly);
                const QByteArray all = f.readAll();
                if (all.isEmpty())
                    ++failures;
            }
            readMs.push_back(msSince(t));
            slides::SlideBuffer b;
            b.setJournal(folder, {});
            t.start();
            recovered = b.findLeftOver().unsaved;
            recoverMs.push_back(msSince(t));
            b.declineLeftOver();
        }
        if (recovered != n)
            ++failures;
        std::printf("recovery: %d slides (%.1f MiB of journal) in %.1f ms, reading the journal's bytes warm %.1f ms: "
                    "ratio %.2f (medians of 7)\n",
                    recovered, double(QFileInfo(master).size()) / 1048576.0, median(recoverMs), median(readMs),
                    median(recoverMs) / median(readMs));
    }

    // ---- deleting one slide among all of them, and undoing a clear of all of them ----
    {
        frmBuffer *buffer = w.Buffer();
        slides::SlideBuffer &slides = buffer->slides();
        const int n = slides.count();
        std::vector<double> deleteMs, undoClearMs, undoDeleteMs;
        for (int round = 0; round < 7; ++round) {
            const int at = n / 2 + round * 7;
            t.start();
            slides.remove({at});
            deleteMs.push_back(msSince(t));
            t.start();
            slides.undo();
            undoDeleteMs.push_back(msSince(t));
            slides.clear();
            t.start();
            slides.undo();
            undoClearMs.push_back(msSince(t));
        }
        if (slides.count() != n)
            ++failures;
        std::printf("history: among %d slides, deleting one %.2f ms, undoing that %.2f ms, undoing a clear %.2f ms "
                    "(medians of 7)\n",
                    n, median(deleteMs), median(undoDeleteMs), median(undoClearMs));
    }

    // ---- every slide's duration set at once, through the window's step (journaled), and undone ----
    {
        slides::SlideBuffer &slides = w.Buffer()->slides();
        const int n = slides.count();
        std::vector<int> all(static_cast<size_t>(n));
        std::iota(all.begin(), all.end(), 1);
        std::vector<double> setMs, undoMs;
        for (int round = 0; round < 7; ++round) {
            t.start();
            if (!slides.setDuration(all, 2 + round % 3))
                ++failures;
            setMs.push_back(msSince(t));
            t.start();
            slides.undo();
            undoMs.push_back(msSince(t));
        }
        std::printf("durations: setting all %d slides' %.2f ms (%.2f ms per 10,000), undoing that %.2f ms "
                    "(medians of 7)\n",
                    n, median(setMs), median(setMs) * 10000 / std::max(n, 1), median(undoMs));
    }

    // ---- the last 1,000 slides moved to the front (journaled), and undone ----
    {
        slides::SlideBuffer &slides = w.Buffer()->slides();
        const int n = slides.count();
        const int moved = std::min(1000, n / 2);
        std::vector<int> last(static_cast<size_t>(moved));
        std::iota(last.begin(), last.end(), n - moved + 1);
        std::vector<double> moveMs, undoMs;
        for (int round = 0; round < 7; ++round) {
            t.start();
            if (!slides.move(last, 1))
                ++failures;
            moveMs.push_back(msSince(t));
            t.start();
            slides.undo();
            undoMs.push_back(msSince(t));
        }
        std::printf("moving: the last %d of %d slides to the front %.2f ms, undoing that %.2f ms (medians of 7)\n",
                    moved, n, median(moveMs), median(undoMs));
    }

    if (failures)
        std::printf("%d recordings failed\n", failures);
    return failures ? 1 : 0;
}
