// How long each slide lasts: one step of the history each, kept with its slide and brought back by the
// journal; asked for in the buffer window by menu and keys; and one cartoon checked four ways: preview
// timing, GIF delays, the frames of a video, and the BMP save's numbering, read back as separate slides.
#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include <numeric>
extern "C" {
#include <libavformat/avformat.h>
}

#include "ExportTestKit.h"
#include "GifFrames.h"
#include "TestCommon.h"
#include "controls/Button.h"
#include "controls/SpinControl.h"
#include "export/FrameSource.h"
#include "export/ScaledFrames.h"
#include "preview/frmView.h"
#include "slides/SeriesReader.h"
#include "slides/SlideFiles.h"
#include "slides/frmBuffer.h"
#include "slides/frmDuration.h"

using namespace exporting;
using namespace slides;
using Frames = std::vector<int>;

// Each slide's duration; none when the length the store keeps is not their sum.
Frames durations(const SlideBuffer &b)
{
    Frames out;
    for (int i = 1; i <= b.count(); ++i)
        out.push_back(b.store().duration(i));
    return b.store().totalFrames() == std::accumulate(out.begin(), out.end(), qint64(0)) ? out : Frames{};
}

// What a program started after `b` crashed brings back from its journal.
Frames replayed(const SlideBuffer &b)
{
    QTemporaryDir other;
    SlideBuffer again;
    again.setJournal(other.path(), {});
    QFile::copy(b.journalPath(), other.filePath(QStringLiteral("journal-1-1.vlj")));
    return again.findLeftOver(), durations(again);
}

// The store as the preview reads it, noting when each slide was fetched.
struct Timed : SlideSource {
    const SlideStore &s;
    QElapsedTimer clock;
    mutable std::vector<std::pair<int, qint64>> at;
    explicit Timed(const SlideStore &store) : s(store) { clock.start(); }
    int slideCount() const override { return s.count(); }
    QImage slide(int i) const override { return at.push_back({i, clock.elapsed()}), s.slide(i); }
    int slideDuration(int i) const override { return s.duration(i); }
};

class TestDurations : public QObject {
    Q_OBJECT
private slots:
    void durationsWalkTheHistoryAndComeBackFromTheJournal()
    {
        QTemporaryDir dir;
        SlideBuffer b;
        b.setJournal(dir.path(), {});
        for (int t = 0; t < 6; ++t)
            QVERIFY(b.record(testcommon::stageSlide(t)));
        QVERIFY(b.setDuration({3, 2}, 5) && b.changeDuration({3, 4}, 1) && b.undo());
        QVERIFY(!b.changeDuration({1}, -1) && !b.setDuration({1}, 100)); // no change, no step
        QCOMPARE(durations(b), (Frames{1, 5, 5, 1, 1, 1}));
        QVERIFY(b.redo() && b.remove({2}) && b.duplicate({2}));
        QCOMPARE(durations(b), (Frames{1, 6, 6, 2, 1, 1}));
        QVERIFY(b.undo() && b.undo() && b.flushJournal(5000));
        QCOMPARE(replayed(b), (Frames{1, 5, 6, 2, 1, 1}));
        SlideStore held = b.store();
        b.replaceAll(std::move(held)); // as an opened project: the next journal begins with the slides held
        QVERIFY(b.record(testcommon::stageSlide(9)) && b.flushJournal(5000));
        QCOMPARE(replayed(b), (Frames{1, 5, 6, 2, 1, 1, 1}));
        b.saved(); // a slide saved already is unsaved again once its duration changes
        QVERIFY(b.setDuration({7}, 2) && b.unsavedCount() == 1);
        QVERIFY(b.move({1}, 8) && durations(b) == (Frames{5, 6, 2, 1, 1, 2, 1}));
        QVERIFY(b.clear() && b.store().totalFrames() == 0 && b.undo() && durations(b).size() == 7);
    }
    void aTypedDurationOutOfRangeIsRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("frames"); // 0: refused with a message, the window staying open
        for (auto [typed, frames] : {std::pair{"0", 0}, {"100", 0}, {"", 0}, {"x7", 7}, {"1", 1}, {"99", 99}})
            QTest::newRow(typed) << QString(typed) << frames;
    }
    void aTypedDurationOutOfRangeIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(int, frames);
        AppState state;
        int told = 0;
        state.message = [&told](QWidget *, const controls::Message &) { return ++told, controls::MsgResult::Ok; };
        frmDuration ask(state, 4);
        ask.show();
        ask.Text1->clear();
        QTest::keyClicks(ask.Text1, typed);
        QTest::keyClick(ask.Text1, Qt::Key_Return);
        QVERIFY(ask.isVisible() == !frames && told == !frames);
        QCOMPARE(ask.result() == QDialog::Accepted ? ask.frames() : 0, frames);
    }
    void theWindowSetsDurationsByKeysAndMenuAndShowsTheLength()
    {
        AppState state;
        frmBuffer w(state);
        w.show();
        for (int t = 0; t < 3; ++t)
            QVERIFY(w.append(testcommon::stageSlide(t)));
        w.choose(2, Qt::NoModifier);
        for (auto [key, modifier] : {std::pair{Qt::Key_Plus, Qt::ShiftModifier}, {Qt::Key_Equal, Qt::NoModifier},
                                     {Qt::Key_Equal, Qt::NoModifier}, {Qt::Key_Minus, Qt::KeypadModifier}})
            QTest::keyClick(&w, key, modifier); // the choice stays, so that a pause grows key by key
        QCOMPARE(w.Label2->text(), QStringLiteral("Длина: 5 кадров, 0,4 с"));
        w.choose(3, Qt::ControlModifier);
        w.askDuration = [](QWidget *, int start) { return start == 3 ? 20 : 0; };
        w.contextMenu()->findChild<QAction *>(QStringLiteral("Duration"))->trigger();
        QCOMPARE(w.Label2->text(), QStringLiteral("Длина: 41 кадр, 3,4 с"));
        QCOMPARE(lengthText(111, 1), QStringLiteral("Длина: 111 кадров, 111,0 с"));
    }
    void oneCartoonCheckedFourWays()
    {
        const Frames lasts{1, 3, 1, 2};
        SlideStore store;
        kit::fill(store, 4);
        for (int i = 1; i <= 4; ++i)
            QVERIFY(store.setDuration(i, lasts[size_t(i - 1)]));
        Timed timed(store); // the preview at 8 a second: 125 ms a frame time
        frmView view(&timed, [](QWidget *, const controls::Message &) { return controls::MsgResult::Ok; });
        view.show();
        view.UpDown1->setValue(8);
        timed.at.clear();
        view.Command2->click();
        QTRY_VERIFY(timed.at.size() >= 5);
        view.Command1_Click();
        for (size_t k = 0; k < 4; ++k) {
            const qint64 gap = timed.at[k + 1].second - timed.at[k].second, due = 125 * lasts[k];
            QVERIFY2(timed.at[k].first == int(k + 1) && gap >= due - 10 && gap < due + 100,
                     qPrintable(QString::number(gap)));
        }

        QTemporaryDir dir;
        kit::CancelAt never(-1);
        StoreFrames frames(store);
        ScaledFrames doubled(frames, 2); // as the export window sends them
        const QString gif = dir.filePath("a.gif"), video = dir.filePath("a.mp4"), bmp = dir.filePath("bmp/");
        QCOMPARE(runExport(doubled, Format::Gif, 10, gif, never).status, Outcome::Written);
        Frames delays;
        testcommon::readGifFrames(gif, [&](int, const QImage &, int cs) { delays.push_back(cs); });
        QCOMPARE(delays, (Frames{10, 30, 10, 20}));

        QCOMPARE(runExport(frames, Format::Mp4, 10, video, never).status, Outcome::Written);
        AVFormatContext *in = nullptr;
        QCOMPARE(avformat_open_input(&in, QFile::encodeName(video).constData(), nullptr, nullptr), 0);
        const qint64 videoFrames = in->streams[0]->nb_frames; // as the file's index of samples counts them
        avformat_close_input(&in);
        QCOMPARE(videoFrames, 7);

        QVERIFY(QDir().mkpath(bmp));
        QCOMPARE(writeSlideFiles(bmp, store, [](int) {}), 4);
        std::atomic<bool> cancel{false};
        const Series back = readSeries(bmp, cancel);
        QCOMPARE(back.count(), 7);
        const Frames from{1, 2, 2, 2, 3, 4, 4};
        for (int k = 1; k <= 7; ++k)
            QVERIFY(back.slides.slide(k) == store.slide(from[size_t(k - 1)]) && back.slides.duration(k) == 1);
    }
};

QTEST_MAIN(TestDurations)
#include "test_durations.moc"
