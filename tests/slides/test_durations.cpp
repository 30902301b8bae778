// How long each slide lasts: one step of the history each, kept with its slide, brought back by the
// journal (also one begun over slides held), and asked for in the buffer window by menu and keys.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "TestCommon.h"
#include "slides/frmBuffer.h"
#include "slides/frmDuration.h"

using namespace slides;
using Frames = std::vector<int>;

Frames durations(const SlideBuffer &b)
{
    Frames out;
    for (int i = 1; i <= b.count(); ++i)
        out.push_back(b.store().duration(i));
    return out;
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
};

QTEST_MAIN(TestDurations)
#include "test_durations.moc"
