// Benchmark of the asset picker on a large folder. Prints one line per figure.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "anigif/GifWriter.h"
#include "app/AppState.h"
#include "app/frmMain.h"
#include "picker/frmFon.h"

namespace {

double ms(qint64 ns) { return double(ns) / 1e6; }

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A character-like GIF: a ball crossing a transparent 120 x 120 canvas in 8 frames.
void writeCharacter(const QString &path, int n)
{
    anigif::GifDocument doc;
    doc.screen = QSize(120, 120);
    const QColor colour = QColor::fromHsv(n * 37 % 360, 200, 230);
    for (int i = 0; i < 8; ++i) {
        QImage img(120, 120, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawEllipse(QPoint(20 + i * 10, 60 + (i % 2) * 10), 18, 18);
        p.setBrush(Qt::black);
        p.drawRect(10 + i * 10, 90, 40, 8);
        anigif::GifFrame f;
        f.image = img;
        f.delayCs = 10;
        f.disposal = anigif::Disposal::Background;
        doc.frames.append(f);
    }
    anigif::writeGif(path, doc);
}

struct Opening {
    double shownMs = -1;        // press -> the window's first paint
    double answeredMs = -1;     // press -> the event loop turns again with the window up
    double firstMs = -1;        // press -> the first thumbnail on screen
    double lastMs = -1;         // press -> every cell with its thumbnail
    double longestStallMs = 0;  // longest gap between two turns of the event loop while building
    double stallCpuMs = 0;      // the user-interface thread's own processor time within that gap
};

// Processor time of the calling thread: tells a stall the program caused from
// one where other processes on a busy machine had the processor.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

class ShowWatcher : public QObject {
public:
    QElapsedTimer *clock = nullptr;
    Opening *o = nullptr;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Show && o->answeredMs < 0) {
            QTimer::singleShot(0, this, [this] {
                if (o->answeredMs < 0)
                    o->answeredMs = ms(clock->nsecsElapsed());
            });
        }
        if (e->type() == QEvent::Paint && o->shownMs < 0)
            o->shownMs = ms(clock->nsecsElapsed());
        return false;
    }
};

Opening openOnce(frmMain &main)
{
    Opening o;
    QElapsedTimer clock;
    frmFon *fon = main.Fon();
    ShowWatcher watcher;
    watcher.clock = &clock;
    watcher.o = &o;
    fon->installEventFilter(&watcher);

    // The event loop's pulse: a 1 ms timer whose gaps show how long the window could not answer.
    QTimer pulse;
    pulse.setInterval(1);
    qint64 lastBeat = 0;
    qint64 lastCpu = 0;
    QObject::connect(&pulse, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        if (lastBeat > 0 && ms(now - lastBeat) > o.longestStallMs) {
            o.longestStallMs = ms(now - lastBeat);
            o.stallCpuMs = ms(cpu - lastCpu);
        }
        lastBeat = now;
        lastCpu = cpu;
    });
    auto first = QObject::connect(fon, &frmFon::thumbnailsShownChanged, [&](int shown) {
        if (shown > 0 && o.firstMs < 0)
            o.firstMs = ms(clock.nsecsElapsed());
    });
    auto last = QObject::connect(fon, &frmFon::gridCompleted, [&] {
        o.lastMs = ms(clock.nsecsElapsed());
        pulse.stop();
        fon->Command1->click();
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        pulse.start();
        main.Command3->click();
    });
    QTimer::singleShot(120000, fon, [fon] { fon->hide(); });
    // The press opens the picker modally; this loop ends once it has closed again.
    while (o.lastMs < 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(first);
    QObject::disconnect(last);
    fon->removeEventFilter(&watcher);
    return o;
}

void print(const char *name, const Opening &o)
{
    std::printf("%s: window painted %.1f ms, answering %.1f ms, first thumbnail %.1f ms, last thumbnail %.1f ms, "
                "longest event-loop stall %.1f ms (%.1f ms of it on the user-interface thread's processor time)\n",
                name, o.shownMs, o.answeredMs, o.firstMs, o.lastMs, o.longestStallMs, o.stallCpuMs);
}

// A program in `folder` whose messages answer themselves and whose end is not carried out.
void quietProgram(AppState &state, const QString &folder)
{
    state.programFolder = folder;
    state.message = [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; };
    state.endProgram = [] {};
}

// Opens the picker twice on a folder of `files` copies of one small GIF and
// returns the second opening, whose cells are left from the first.
Opening reopening(int files)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("objects"));
    const QString objects = dir.filePath(QStringLiteral("objects"));
    writeCharacter(QDir(objects).filePath(QStringLiteral("00000.gif")), 0);
    QFile first(QDir(objects).filePath(QStringLiteral("00000.gif")));
    first.open(QIODevice::ReadOnly);
    const QByteArray bytes = first.readAll();
    for (int i = 1; i < files; ++i) {
        QFile copy(QDir(objects).filePath(QStringLiteral("%1.gif").arg(i, 5, 10, QLatin1Char('0'))));
        if (copy.open(QIODevice::WriteOnly))
            copy.write(bytes);
    }
    AppState state;
    quietProgram(state, dir.path());
    frmMain main(state);
    main.show();
    QCoreApplication::processEvents();
    openOnce(main);
    return openOnce(main);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int files = qEnvironmentVariableIsSet("VELLUMO_BENCH_PICKER_FILES")
                          ? qEnvironmentVariableIntValue("VELLUMO_BENCH_PICKER_FILES")
                          : 1000;
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("objects"));
    QDir(dir.path()).mkpath(QStringLiteral("fones"));
    const QString objects = dir.filePath(QStringLiteral("objects"));
    for (int i = 0; i < files; ++i)
        writeCharacter(QDir(objects).filePath(QStringLiteral("hero %1.gif").arg(i, 4, 10, QLatin1Char('0'))), i);
    std::printf("picker on %d GIFs of 120 x 120 pixels, 8 frames each; %d threads\n", files,
                QThread::idealThreadCount());

    // Baseline: the folder read one file after another at full size, on one thread.
    QElapsedTimer serial;
    serial.start();
    qint64 fullBytes = 0;
    for (const QString &name : QDir(objects).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        const QImage full = QImageReader(QDir(objects).filePath(name)).read();
        fullBytes += full.sizeInBytes();
    }
    const double serialMs = ms(serial.nsecsElapsed());
    std::printf("serial full-size decoding of the folder: %.1f ms\n", serialMs);

    AppState state;
    quietProgram(state, dir.path());
    frmMain main(state);
    main.show();
    QCoreApplication::processEvents();

    const long rssBefore = rssKb();
    const Opening firstOpening = openOnce(main);
    print("first opening", firstOpening);
    std::printf("whole build / serial full-size decoding: %.2f\n", firstOpening.lastMs / serialMs);
    const long rssAfter = rssKb();

    const Opening second = openOnce(main);
    print("reopening, folder unchanged", second);
    std::printf("reopening speed-up (last thumbnail): %.1f x\n", firstOpening.lastMs / second.lastMs);

    const qint64 thumbBytes = main.Fon()->loader().cachedBytes();
    std::printf("thumbnails held: %.1f MB for %d files (%.1f KB each); the same files at full size: %.1f MB; "
                "resident memory grew %.1f MB over the first opening\n",
                thumbBytes / 1048576.0, files, thumbBytes / 1024.0 / std::max(1, files), fullBytes / 1048576.0,
                (rssAfter - rssBefore) / 1024.0);

    // Large backgrounds: what is held stays at thumbnail size whatever the pictures' size.
    const int backgrounds = 40;
    QImage big(1600, 1200, QImage::Format_RGB32);
    big.fill(QColor(40, 120, 200));
    for (int i = 0; i < backgrounds; ++i)
        big.save(dir.filePath(QStringLiteral("fones/bg%1.jpg").arg(i, 2, 10, QLatin1Char('0'))), "JPG", 80);
    state.PickerMode = QStringLiteral("fon");
    frmFon *fon = main.Fon();
    fon->show();
    while (!fon->gridComplete())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    fon->hide();
    std::printf("%d backgrounds of 1600 x 1200: thumbnails held %.2f MB; full pictures would be %.1f MB\n", backgrounds,
                main.Fon()->loader().cachedBytes() / 1048576.0 - thumbBytes / 1048576.0,
                backgrounds * 1600.0 * 1200 * 4 / 1048576.0);

    // Reopening a folder of thousands: the cells of the first opening must not
    // make the window wait. The same on a tenth of the files is the baseline.
    const Opening small = reopening(1000);
    const Opening large = reopening(10000);
    print("reopening 1,000 files", small);
    print("reopening 10,000 files", large);
    std::printf("longest event-loop stall, reopening 10,000 files / 1,000 files: %.2f\n",
                large.longestStallMs / std::max(0.1, small.longestStallMs));
    return 0;
}
