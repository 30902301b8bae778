// Plays 100 slides at each rate of the pause table for a while and reports
// the achieved slides per second against 1000 / pause, the spread of the
// times between slides, and the processor time the playback used. The rate
// without a pause (5) is the baseline: how fast slides can be drawn at all.
//
//   QT_QPA_PLATFORM=offscreen bench_preview          10 s per rate
//   VELLUMO_BENCH_SECONDS=2 bench_preview            a quick run

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "controls/SpinControl.h"
#include "preview/frmView.h"
#include "slides/SlideSource.h"

namespace {

// Slides that note when the player fetches them, which is the moment it shows them.
class TimedSlides : public slides::SlideSource {
public:
    TimedSlides(int count, const QElapsedTimer &clock) : m_clock(clock)
    {
        for (int i = 0; i < count; ++i) {
            QImage img(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB888);
            img.fill(QColor::fromHsv((i * 37) % 360, 200, 220));
            m_slides.push_back(img);
        }
    }
    int slideCount() const override { return int(m_slides.size()); }
    QImage slide(int i) const override
    {
        shown.push_back(m_clock.nsecsElapsed());
        return i >= 1 && i <= slideCount() ? m_slides[size_t(i - 1)] : QImage();
    }
    mutable std::vector<qint64> shown;

private:
    const QElapsedTimer &m_clock;
    std::vector<QImage> m_slides;
};

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = false;
    double seconds = qEnvironmentVariable("VELLUMO_BENCH_SECONDS").toDouble(&ok);
    if (!ok || seconds <= 0)
        seconds = 10;

    QElapsedTimer clock;
    clock.start();
    TimedSlides source(100, clock);
    frmView view(&source, [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; });

    std::printf("preview playback, 100 slides of %dx%d, %.1f s per rate\n", slides::SlideWidth,
                slides::SlideHeight, seconds);
    std::printf("%5s %6s %9s %9s %7s %9s %9s %9s  %s\n", "rate", "pause", "nominal", "achieved", "ratio",
                "sd ms", "max ms", "cpu ms/s", "within 2%");
    bool allWithin = true;
    for (int rate : {5, 1, 4, 8, 12, 16, 20, 24}) {
        view.show();
        wait(50);
        view.UpDown1->setValue(rate);
        source.shown.clear();
        const double cpu0 = cpuSeconds();
        const qint64 t0 = clock.nsecsElapsed();
        view.Command2_Click();
        wait(int(seconds * 1000));
        view.Command2_Click(); // "Стоп": the slide in progress still gets its pause
        while (view.playing())
            wait(1);
        const double wall = double(clock.nsecsElapsed() - t0) / 1e9;
        const double cpuPerSecond = (cpuSeconds() - cpu0) / wall * 1000;
        view.Command1_Click();

        std::vector<double> gaps;
        for (size_t i = 1; i < source.shown.size(); ++i)
            gaps.push_back(double(source.shown[i] - source.shown[i - 1]) / 1e6);
        const double span = gaps.empty() ? 0 : double(source.shown.back() - source.shown.front()) / 1e9;
        const double achieved = span > 0 ? double(gaps.size()) / span : 0;
        double mean = 0, sd = 0, mx = 0;
        for (double g : gaps)
            mean += g / double(gaps.size());
        for (double g : gaps) {
            sd += (g - mean) * (g - mean) / double(gaps.size());
            mx = std::max(mx, g);
        }
        sd = std::sqrt(sd);
        const int pause = preview::pauseForRate(rate);
        if (pause > 0) {
            const double nominal = 1000.0 / pause;
            const bool within = std::abs(achieved / nominal - 1) <= 0.02;
            allWithin = allWithin && within;
            std::printf("%5d %6d %9.3f %9.3f %7.4f %9.3f %9.3f %9.2f  %s\n", rate, pause, nominal, achieved,
                        achieved / nominal, sd, mx, cpuPerSecond, within ? "yes" : "NO");
        } else {
            std::printf("%5d %6s %9s %9.1f %7s %9.3f %9.3f %9.2f  (no pause: drawing speed)\n", rate, "-", "-",
                        achieved, "-", sd, mx, cpuPerSecond);
        }
    }
    return allWithin ? 0 : 1;
}
