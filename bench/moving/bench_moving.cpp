// One synchronised move (move, frame step, repaint, record) against one
// recording alone, measured in the same run on a typical scene; the same
// move with the onion skin shown against it hidden; and an arrow held down
// for a while: every step it makes must become exactly one slide.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/AppState.h"
#include "app/frmMain.h"
#include "picker/Placing.h"
#include "slides/OnionSkin.h"

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int envInt(const char *name, int fallback)
{
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : v.toInt();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    AppState state;
    state.programFolder = dir.path();
    state.endProgram = [] {};
    state.message = [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; };
    frmMain w(state);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 2;

    const QString objects = QStringLiteral(VELLUMO_LIBRARY_DIR "/objects");
    picker::placeAsset(w, QStringLiteral("person"), objects, QStringLiteral("Кот идёт▸.gif"));
    picker::placeAsset(w, QStringLiteral("person"), objects, QStringLiteral("Робот идёт▸.gif"));
    picker::placeAsset(w, QStringLiteral("articles"), QStringLiteral(VELLUMO_LIBRARY_DIR "/articles"),
                       QStringLiteral("Дерево.gif"));
    w.List1->setCurrentRow(0);
    w.UpDown5->setIncrement(10);

    const int rounds = envInt("VELLUMO_BENCH_ROUNDS", 400);
    std::vector<double> record, synchro, plain, onion, plainPainted, onionPainted;
    QElapsedTimer t;
    // Interleaved, so that a busy moment of the machine falls on both alike.
    // Back and forth, so that the character stays on the stage.
    const auto move = [&](int i) {
        if ((i / 20) % 2 == 0)
            w.UpDown5->stepUp();
        else
            w.UpDown5->stepDown();
    };
    for (int i = 0; i < rounds; ++i) {
        // The baseline records a stage that changed as much as a synchronised
        // step changes it: the same move and frame step, made (and painted) untimed.
        w.Check1->setChecked(false);
        w.Check2->setChecked(false);
        move(2 * i);
        w.DoPicture();
        QCoreApplication::processEvents();
        t.start();
        w.SaveBuffer();
        record.push_back(double(t.nsecsElapsed()) / 1e6);

        w.Check1->setChecked(true);
        w.Check2->setChecked(true);
        // Ticking the boxes repaints them; that belongs to neither side.
        QCoreApplication::processEvents();
        t.start();
        move(2 * i + 1);
        synchro.push_back(double(t.nsecsElapsed()) / 1e6);

        // The synchronised step without and with "Калька": the step itself, and the step up to the end of
        // the repaint it leaves behind, where the new slide replaces the old one on the overlay.
        for (const bool ticked : {false, true}) {
            w.Check3->setChecked(ticked);
            // One step untimed, so that the timed one comes as in a run of steps and not as the first
            // after the box changed, which shows the whole overlay.
            QCoreApplication::processEvents();
            move(2 * i + 1);
            QCoreApplication::processEvents();
            t.start();
            move(2 * i + 1);
            (ticked ? onion : plain).push_back(double(t.nsecsElapsed()) / 1e6);
            QCoreApplication::processEvents();
            (ticked ? onionPainted : plainPainted).push_back(double(t.nsecsElapsed()) / 1e6);
        }
        if (!w.OnionSkin->isVisible())
            return 3; // the overlay was not measured
    }
    const double rec = median(record), syn = median(synchro);
    std::printf("synchro step (move, frame step, record): median %.3f ms; recording alone %.3f ms: ratio %.2f "
                "(%d of each)\n",
                syn, rec, syn / rec, rounds);
    const double withOnion = median(onion), without = median(plain);
    std::printf("synchro step, onion skin shown: median %.3f ms; hidden %.3f ms: ratio %.2f (%d of each)\n",
                withOnion, without, withOnion / without, rounds);
    const double withOnionPainted = median(onionPainted), withoutPainted = median(plainPainted);
    std::printf("synchro step and its repaint, onion skin shown: median %.3f ms; hidden %.3f ms: ratio %.2f "
                "(%d of each)\n",
                withOnionPainted, withoutPainted, withOnionPainted / withoutPainted, rounds);

    // An arrow held down with the program's own repeat timing.
    const int seconds = envInt("VELLUMO_BENCH_SECONDS", 10);
    int steps = 0;
    QObject::connect(w.UpDown5, &controls::SpinControl::Change, [&] { ++steps; });
    const int before = w.SlideCount;
    QToolButton *up = w.UpDown5->upButton();
    const QPointF centre = QRectF(up->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, centre, up->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(up, &press);
    QTest::qWait(seconds * 1000);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, up->mapToGlobal(centre), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(up, &release);
    QTest::qWait(200);
    const int slides = w.SlideCount - before;
    std::printf("arrow held %d s: %d steps, %d slides recorded: %s\n", seconds, steps, slides,
                steps == slides ? "one slide per step" : "MISMATCH");
    return steps == slides ? 0 : 1;
}
