#pragma once
// What the benchmarks share: the typical scene of a cartoon (the start
// background, two walking characters, a prop), its steps, and the figures.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "anigif/AniGif.h"
#include "app/frmMain.h"
#include "controls/ImageControl.h"
#include "controls/Twips.h"

namespace {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double rssMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

inline double msSince(QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// How many slides the figures of many slides use: 10,000, or as many as
// VELLUMO_BENCH_SLIDES says, never fewer than `least`.
inline int manySlides(int least)
{
    return qEnvironmentVariableIsSet("VELLUMO_BENCH_SLIDES")
               ? std::max(least, qEnvironmentVariableIntValue("VELLUMO_BENCH_SLIDES"))
               : 10000;
}

// The longest time the event loop went without turning, from start() on: a
// timer that asks to run every millisecond notes the gaps between its runs.
struct StallWatch {
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    StallWatch()
    {
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
    }
    void start()
    {
        tick.start();
        clock.start();
    }
    double longestMs() const { return double(longest) / 1e6; }
};

// A program in `folder` whose message boxes answer by themselves: error
// messages are printed, and counted in `failures` when it is given.
inline void quietProgram(AppState &state, const QString &folder, int *failures = nullptr)
{
    state.programFolder = folder;
    state.AnimationsFolder = folder + QStringLiteral("/Animations/");
    state.message = [failures](QWidget *, const controls::Message &m) {
        if (m.icon == controls::MsgIcon::Error) {
            if (failures)
                ++*failures;
            std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
        }
        return controls::MsgResult::Ok;
    };
    state.endProgram = [] {};
}

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
    // Builds the scene in the shown window and records `slides` steps of it.
    void record(int slides)
    {
        w.show();
        build();
        QCoreApplication::processEvents();
        for (int i = 1; i <= slides; ++i) {
            step(i);
            w.SaveBuffer();
        }
    }
};

} // namespace
