// Adding a saved series back into the slide buffer. Every figure is a ratio
// to reading the same 1,000 files whole with plain reads in the same run:
// adding has to read them too, then pack each one against the one before.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

#include <unistd.h>

#include "TypicalScene.h"
#include "app/AppState.h"
#include "slides/SeriesReader.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideFiles.h"
#include "slides/frmBuffer.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    AppState state;
    quietProgram(state, dir.path());
    frmMain w(state);
    Scene{w}.record(1000);
    const slides::SlideStore &recorded = w.Buffer()->store();
    const QString folder = dir.filePath(QStringLiteral("series/"));
    QDir().mkpath(folder);
    slides::writeSlideFiles(folder, recorded, [](int) {});
    // Yesterday's slides lie on the disk, not waiting to be written there: the system's writing of 411 MB
    // would otherwise share the processor with the rounds below.
    ::sync();

    // The two take turns five times; the medians are compared. The buffer journals, as the program's
    // does; its thread writes after the step, and is let finish before the next round.
    std::vector<double> plain, adding;
    qint64 addedBytes = 0, bytesRead = 0;
    const QString journals = dir.filePath(QStringLiteral("journals"));
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        bytesRead = 0;
        for (const QString &name : QDir(folder).entryList(QDir::Files, QDir::Name)) {
            QFile f(folder + name);
            if (f.open(QIODevice::ReadOnly))
                bytesRead += f.readAll().size();
        }
        plain.push_back(msSince(t));

        t.restart();
        slides::SlideBuffer buffer;
        buffer.setJournal(journals, [](const QString &why) { std::fprintf(stderr, "%s\n", qPrintable(why)); });
        std::atomic<bool> cancel{false};
        slides::Series series = slides::readSeries(folder, cancel);
        if (series.count() != 1000 || !buffer.addSeries(std::move(series.slides))) {
            std::fprintf(stderr, "adding failed: %d slides\n", buffer.count());
            return 1;
        }
        adding.push_back(msSince(t));
        addedBytes = buffer.store().packedBytes();
        buffer.flushJournal(10000);
    }
    std::printf("continue: plain reads of 1,000 saved slides (%.0f MB): %.0f ms\n", double(bytesRead) / 1e6,
                median(plain));
    std::printf("continue: adding them to the buffer: %.0f ms = %.2f x plain reads (target <= 2)\n", median(adding),
                median(adding) / median(plain));
    std::printf("continue: packed bytes held: added %.2f MB, recorded %.2f MB (ratio %.3f)\n", double(addedBytes) / 1e6,
                double(recorded.packedBytes()) / 1e6, double(addedBytes) / double(recorded.packedBytes()));

    // ---- 10,000 slides through the buffer window, which keeps answering ----
    // The saved series named ten times over by hard links: the files cost the disk nothing more.
    const QString many = dir.filePath(QStringLiteral("many/"));
    QDir().mkpath(many);
    const auto saved = [](int n) { return QStringLiteral("%1.bmp").arg(n, 3, 10, QLatin1Char('0')); };
    for (int n = 1; n <= 10000; ++n)
        if (::link(QFile::encodeName(folder + saved((n - 1) % 1000 + 1)).constData(),
                   QFile::encodeName(many + saved(n)).constData()) != 0) {
            std::fprintf(stderr, "cannot link the series\n");
            return 1;
        }
    frmBuffer *window = w.Buffer();
    window->show();
    QCoreApplication::processEvents();
    const int before = window->slideCount();
    StallWatch stalls;
    stalls.start();
    const bool added = window->addFolder(many);
    QCoreApplication::processEvents();
    const double took = msSince(stalls.clock);
    stalls.tick.stop();
    std::printf("window: adding 10,000 slides through the buffer window %.2f s, %d slides added, longest event-loop "
                "stall %.1f ms\n",
                took / 1000, window->slideCount() - before, stalls.longestMs());
    return added ? 0 : 1;
}
