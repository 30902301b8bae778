// The project file of a typical scene (the start background, two walking
// characters, a prop): every figure is a ratio to a baseline measured in the
// same run, or the bytes written.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>


#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "EventLoopWatch.h"
#include "TypicalScene.h"
#include "app/AppState.h"
#include "app/frmMain.h"
#include "project/Document.h"
#include "project/ProjectFile.h"
#include "project/SceneSnapshot.h"
#include "slides/SlideStore.h"
#include "slides/frmBuffer.h"

namespace {

// Bytes this process has handed to write() so far, whatever they went into.
qint64 bytesWritten()
{
    QFile f(QStringLiteral("/proc/self/io"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

// The baseline of a save: every packed slide and picture written back to back into a plain file, then one fsync.
bool writePlain(const QString &path, const slides::SlideStore &store, const QList<QByteArray> &pictures)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    const auto put = [&](const char *p, qsizetype n) {
        while (ok && n > 0) {
            const ssize_t w = ::write(fd, p, size_t(n));
            ok = w > 0;
            p += w;
            n -= w;
        }
    };
    for (const QByteArray &picture : pictures)
        put(picture.constData(), picture.size());
    for (const slides::SlideStore::PackedShare &s : store.shareAll())
        put(s.data, s.size);
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The baseline of an open: the file's bytes read into memory, from the cache.
qint64 readPlain(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().size();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int total = manySlides(300);
    QTemporaryDir dir;
    AppState state;
    int failures = 0;
    quietProgram(state, dir.path(), &failures);
    frmMain w(state);
    Scene scene{w};
    scene.record(total);
    const slides::SlideStore &store = w.Buffer()->store();
    const project::SceneSnapshot snapshot = project::takeSnapshot(w);
    qint64 pictureBytes = 0;
    QList<QByteArray> pictures;
    for (const QByteArray &p : snapshot.pictures())
        if (!p.isEmpty() && !pictures.contains(p)) {
            pictures << p;
            pictureBytes += p.size();
        }
    const qint64 held = store.packedBytes() + pictureBytes;
    std::printf("project: %d slides, %.1f MiB packed, %.2f MiB of pictures\n", store.count(),
                double(store.packedBytes()) / 1048576.0, double(pictureBytes) / 1048576.0);

    const QString path = dir.filePath(QStringLiteral("Мультик.vellumo"));
    const QString plain = dir.filePath(QStringLiteral("plain.bin"));
    QElapsedTimer t;

    // ---- saving a new project against one plain write of the same bytes, side by side ----
    std::vector<double> saveMs, plainMs, saveRatio;
    project::ProjectFile::WrittenState written;
    for (int round = 0; round < 5; ++round) {
        double r[2] = {0, 0};
        for (int k = 0; k < 2; ++k) {
            const int way = (round + k) % 2;
            QFile::remove(way == 0 ? path : plain);
            ::sync();
            t.start();
            if (way == 0) {
                written = {};
                if (!project::ProjectFile::save(path, snapshot, store, &written).ok())
                    ++failures;
            } else if (!writePlain(plain, store, pictures)) {
                ++failures;
            }
            r[way] = msSince(t);
            (way == 0 ? saveMs : plainMs).push_back(r[way]);
        }
        saveRatio.push_back(r[0] / r[1]);
    }
    std::printf("saving anew: %.0f ms, the same bytes into a plain file with one fsync %.0f ms: ratio %.2f "
                "(median of 5 rounds' ratios)\n",
                median(saveMs), median(plainMs), median(saveRatio));

    // ---- size ----
    const qint64 size = QFileInfo(path).size();
    std::printf("size: %.1f MiB for %.1f MiB of packed slides and pictures: ratio %.3f\n", double(size) / 1048576.0,
                double(held) / 1048576.0, double(size) / double(held));

    // ---- saving again after 10 more slides ----
    {
        std::vector<double> againMs;
        qint64 againBytes = 0;
        for (int round = 0; round < 5; ++round) {
            for (int i = 1; i <= 10; ++i) {
                scene.step(store.count() + 1);
                w.SaveBuffer();
            }
            const project::SceneSnapshot now = project::takeSnapshot(w);
            const qint64 before = bytesWritten();
            t.start();
            if (!project::ProjectFile::save(path, now, store, &written).ok())
                ++failures;
            againMs.push_back(msSince(t));
            againBytes = std::max(againBytes, bytesWritten() - before);
        }
        const qint64 after = QFileInfo(path).size();
        std::printf("saving again after 10 more slides: %.1f ms (median of 5), at most %.0f KiB written: %.2f %% of "
                    "the file\n",
                    median(againMs), double(againBytes) / 1024.0, 100.0 * double(againBytes) / double(after));
    }

    // ---- opening against reading the file's bytes warm, side by side ----
    {
        readPlain(path);
        std::vector<double> openMs, readMs, ratio;
        int opened = 0;
        for (int round = 0; round < 5; ++round) {
            double r[2] = {0, 0};
            for (int k = 0; k < 2; ++k) {
                const int way = (round + k) % 2;
                t.start();
                if (way == 0) {
                    project::SceneSnapshot read;
                    slides::SlideStore slides;
                    project::ProjectFile::WrittenState state;
                    if (!project::ProjectFile::open(path, read, slides, &state).ok())
                        ++failures;
                    opened = slides.count();
                } else if (readPlain(path) <= 0) {
                    ++failures;
                }
                r[way] = msSince(t);
                (way == 0 ? openMs : readMs).push_back(r[way]);
            }
            ratio.push_back(r[0] / r[1]);
        }
        if (opened != store.count())
            ++failures;
        std::printf("opening: %d slides in %.0f ms, reading the file's bytes warm %.0f ms: ratio %.2f (median of 5 "
                    "rounds' ratios)\n",
                    opened, median(openMs), median(readMs), median(ratio));
    }

    // ---- the window keeps answering while its document saves and opens them ----
    {
        EventLoopWatch watch;
        const QString copy = dir.filePath(QStringLiteral("Копия.vellumo"));
        w.document()->askFile = [copy](QWidget *, const QString &, const QString &, bool) { return copy; };
        bool ok = false;
        const qint64 saving = watch.during([&] { return w.document()->saveAs(); }, ok);
        failures += !ok;
        const qint64 opening = watch.during([&] { return w.document()->load(copy); }, ok);
        failures += !ok;
        std::printf("the window's longest wait between two events: %lld ms while saving %d slides, %lld ms while "
                    "opening them\n",
                    saving, w.Buffer()->slideCount(), opening);
    }

    if (failures)
        std::printf("%d failures\n", failures);
    return failures ? 1 : 0;
}
