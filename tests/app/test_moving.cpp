// Moving, sizing and animating: each click is one exact change, and with the
// "Синхро" boxes ticked a move becomes move, frame step, repaint, slide.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "Program.h"
#include "TestCommon.h"
#include "controls/Twips.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

// Places a character the way the picker does, from a GIF of `frames` solid
// frames (frame i in testcommon::frameColour(i)).
int addCharacter(Program &p, int frames, const QString &name = QStringLiteral("hero"))
{
    const QString path = testcommon::writeSimpleGif(p.dir.path(), name + QStringLiteral(".gif"), QSize(40, 40), frames);
    frmMain *w = p.main.get();
    const int n = ++p.state.CharacterCount;
    anigif::AniGif *c = w->AniGIF1.create(n);
    c->LoadFile(path);
    c->show();
    w->connectCharacter(n);
    w->Command5->setEnabled(true);
    w->Command6->setEnabled(true);
    w->Command7->setEnabled(true);
    w->List1->addItem(QStringLiteral("персонаж (%1) индекс > %2").arg(name).arg(n));
    return n;
}

int addProp(Program &p)
{
    frmMain *w = p.main.get();
    const int n = ++p.state.PropCount;
    controls::ImageControl *prop = w->Image1.create(n);
    prop->setPicture(testcommon::solid(QSize(30, 20), Qt::magenta));
    prop->show();
    w->connectProp(n);
    w->List1->addItem(QStringLiteral("предмет (box) индекс > %1").arg(n));
    return n;
}

void select(Program &p, int row)
{
    p.main->List1->setCurrentRow(row);
}

// The colour a slide shows at a point of the stage given in twips of the background.
QColor slideColourAt(Program &p, int slide, double x, double y)
{
    frmMain *w = p.main.get();
    const QImage img = w->Buffer()->slide(slide);
    // The background box sits at (-3, -3) in the viewport and has a 1-pixel border.
    const QPoint at(twips::toPixels(x + twips::left(w->Picture3)) + 1, twips::toPixels(y + twips::top(w->Picture3)) + 1);
    return QColor(img.pixel(at));
}

} // namespace

class MovingTest : public QObject {
    Q_OBJECT
private slots:
    void aSynchronisedMoveStepsTheFrameThenRecordsTheMovedCharacter();
    void onlyHorizontalPanAndCharacterMovesRecord();
    void theStepBoxSetsTheHorizontalStepsOnly();
    void sizingShiftsBy220And350AndNeverGoesBelow500Wide();
    void growingMayMakeThePositionNegative();
    void theVerticalControlCountsUpwards();
    void panningFollowsTheBackgroundsRange();
    void propsAreDraggedWithTheLeftButtonOnly();
    void frameStepsCycleAndWrapAtTheFrameCount();
    void theFrameCounterCarriesOverToAnotherCharacter();
    void stepRecordsOnlyWithTheRecordSynchroBox();
    void stepWithNothingSelectedChangesNothingButStillRecords();
    void animateAndStopToggleTheCaptionAndRewind();
    void aRunningCharacterKeepsTheFrameFieldUpToDate();
    void selectingAnEntryMovesNothingAndRecordsNothing();
    void aPropEntryLeavesEveryCharacterAlone();
    void aDeletedCharacterIsLeftAloneAndLabelsFollowTheControls();
    void holdingAnArrowRecordsOneSlidePerStep();
};

void MovingTest::aSynchronisedMoveStepsTheFrameThenRecordsTheMovedCharacter()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 4);
    select(p, 0);
    w->Check1->setChecked(true);
    w->Check2->setChecked(true);
    anigif::AniGif *c = w->AniGIF1.at(n);
    const double x0 = twips::left(c);
    w->UpDown5->upButton()->click();
    QCOMPARE(twips::left(c), x0 + 200);
    QCOMPARE(c->CurrentFrame(), 1);
    QCOMPARE(w->Label5->text(), QStringLiteral("01"));
    QCOMPARE(w->SlideCount, 1);
    QCOMPARE(w->Label4->text(), QStringLiteral("2360"));
    QCOMPARE(w->Label1.at(6)->text(), QStringLiteral("X = 2360"));
    // The slide shows the character at its new place on its new frame.
    QCOMPARE(slideColourAt(p, 1, x0 + 200 + 300, 300).name(), testcommon::frameColour(1).name());
    QVERIFY(!p.state.SlidesUnsaved);
}

void MovingTest::onlyHorizontalPanAndCharacterMovesRecord()
{
    Program p;
    frmMain *w = p.main.get();
    addCharacter(p, 3);
    select(p, 0);
    w->Check2->setChecked(true);
    w->UpDown3->setRange(-3000, 0);
    w->UpDown4->setRange(-3000, 0);
    w->UpDown3->downButton()->click();
    QCOMPARE(w->SlideCount, 1);
    QCOMPARE(w->Label2->text(), QStringLiteral("-0200"));
    w->UpDown5->upButton()->click();
    QCOMPARE(w->SlideCount, 2);
    w->UpDown6->downButton()->click();
    QCOMPARE(w->SlideCount, 3);
    w->UpDown4->downButton()->click();
    QCOMPARE(twips::top(w->Picture3), -100.0);
    w->UpDown7->upButton()->click();
    w->UpDown7->downButton()->click();
    QCOMPARE(w->SlideCount, 3);
    // Frames step only with the other box.
    QCOMPARE(w->Label5->text(), QStringLiteral("00"));
}

void MovingTest::theStepBoxSetsTheHorizontalStepsOnly()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 2);
    select(p, 0);
    w->Combo1->setCurrentText(QStringLiteral("500"));
    emit w->Combo1->activated(w->Combo1->currentIndex());
    anigif::AniGif *c = w->AniGIF1.at(n);
    w->UpDown5->upButton()->click();
    QCOMPARE(twips::left(c), 2660.0);
    w->UpDown6->upButton()->click(); // already at its top (0): no move
    w->UpDown6->downButton()->click();
    QCOMPARE(twips::top(c), 100.0);
    w->UpDown3->setRange(-5000, 0);
    w->UpDown3->downButton()->click();
    QCOMPARE(twips::left(w->Picture3), -500.0);
}

void MovingTest::sizingShiftsBy220And350AndNeverGoesBelow500Wide()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 2);
    select(p, 0);
    anigif::AniGif *c = w->AniGIF1.at(n);
    twips::setGeometry(c, 2160, 300, 1320, 1410);
    w->UpDown7->downButton()->click();
    QCOMPARE(twips::geometry(c), QRectF(2380, 650, 820, 910));
    QVERIFY(!c->AutoSize());
    QCOMPARE(c->SizeMode(), 2);
    w->UpDown7->downButton()->click(); // 820 - 500 < 500: refused
    QCOMPARE(twips::geometry(c), QRectF(2380, 650, 820, 910));
    w->UpDown7->upButton()->click();
    QCOMPARE(twips::geometry(c), QRectF(2160, 300, 1320, 1410));
    QCOMPARE(c->geometry(), twips::toPixels(QRectF(2160, 300, 1320, 1410)));
    // Sizing touches neither the spin controls nor the labels.
    QCOMPARE(w->UpDown5->value(), 2160);
    QCOMPARE(w->Label4->text(), QStringLiteral("2160"));
}

void MovingTest::growingMayMakeThePositionNegative()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 2);
    select(p, 0);
    anigif::AniGif *c = w->AniGIF1.at(n);
    twips::move(c, 100, 0);
    w->UpDown7->upButton()->click();
    QCOMPARE(twips::left(c), -120.0);
    QCOMPARE(twips::top(c), -350.0);
}

void MovingTest::theVerticalControlCountsUpwards()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 2);
    select(p, 0);
    for (int i = 0; i < 12; ++i)
        w->UpDown6->downButton()->click();
    QCOMPARE(w->UpDown6->value(), -1200);
    QCOMPARE(twips::top(w->AniGIF1.at(n)), 1200.0);
    QCOMPARE(w->Label9->text(), QStringLiteral("Y = -1200"));
}

void MovingTest::panningFollowsTheBackgroundsRange()
{
    Program p;
    frmMain *w = p.main.get();
    w->UpDown3->setRange(-1500, 0);
    for (int i = 0; i < 20; ++i)
        w->UpDown3->downButton()->click();
    QCOMPARE(twips::left(w->Picture3), -1500.0);
    QCOMPARE(w->Label2->text(), QStringLiteral("-1500"));
    w->UpDown3->upButton()->click();
    QCOMPARE(twips::left(w->Picture3), -1300.0);
}

void MovingTest::propsAreDraggedWithTheLeftButtonOnly()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addProp(p);
    controls::ImageControl *prop = w->Image1.at(n);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QRectF before = twips::geometry(prop);
    // The right button neither grabs nor drags.
    QTest::mousePress(prop, Qt::RightButton, {}, QPoint(5, 5));
    QMouseEvent moveRight(QEvent::MouseMove, QPointF(15, 12), prop->mapToGlobal(QPointF(15, 12)), Qt::NoButton,
                          Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(prop, &moveRight);
    QTest::mouseRelease(prop, Qt::RightButton, {}, QPoint(15, 12));
    QCOMPARE(twips::geometry(prop), before);
    // The left button drags with the grabbed point kept under the pointer.
    QTest::mousePress(prop, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(w->GrabX, 75);
    QCOMPARE(w->GrabY, 75);
    QMouseEvent moveLeft(QEvent::MouseMove, QPointF(15, 12), prop->mapToGlobal(QPointF(15, 12)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(prop, &moveLeft);
    QCOMPARE(twips::geometry(prop), before.translated(150, 105));
    QCOMPARE(twips::width(prop), before.width());
    // No limit: a prop may leave the stage.
    QMouseEvent far(QEvent::MouseMove, QPointF(-400, -400), prop->mapToGlobal(QPointF(-400, -400)), Qt::NoButton,
                    Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(prop, &far);
    QVERIFY(twips::left(prop) < -5000);
}

void MovingTest::frameStepsCycleAndWrapAtTheFrameCount()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 4);
    select(p, 0);
    QStringList shown;
    QList<int> frames;
    for (int i = 0; i < 5; ++i) {
        w->Command11->click();
        shown << w->Label5->text();
        frames << w->AniGIF1.at(n)->CurrentFrame();
    }
    QCOMPARE(shown, (QStringList{"01", "02", "03", "00", "01"}));
    QCOMPARE(frames, (QList<int>{1, 2, 3, 0, 1}));
}

void MovingTest::theFrameCounterCarriesOverToAnotherCharacter()
{
    Program p;
    frmMain *w = p.main.get();
    const int one = addCharacter(p, 6, QStringLiteral("one"));
    const int three = addCharacter(p, 3, QStringLiteral("three"));
    const int five = addCharacter(p, 5, QStringLiteral("five"));
    select(p, 0);
    w->Command11->click();
    w->Command11->click();
    QCOMPARE(w->AniGIF1.at(one)->CurrentFrame(), 2);
    select(p, 2);
    w->Command11->click();
    QCOMPARE(w->AniGIF1.at(five)->CurrentFrame(), 3);
    select(p, 1);
    // The counter stands at 4, beyond this character's frames: it wraps to 0.
    w->Command11->click();
    QCOMPARE(w->AniGIF1.at(three)->CurrentFrame(), 0);
    QCOMPARE(w->Label5->text(), QStringLiteral("00"));
    w->Command11->click();
    QCOMPARE(w->AniGIF1.at(three)->CurrentFrame(), 1);
}

void MovingTest::stepRecordsOnlyWithTheRecordSynchroBox()
{
    Program p;
    frmMain *w = p.main.get();
    addCharacter(p, 4);
    select(p, 0);
    w->Check1->setChecked(true); // not consulted by "Шаг"
    w->Command11->click();
    QCOMPARE(w->SlideCount, 0);
    w->Check2->setChecked(true);
    w->Command11->click();
    w->Command11->click();
    QCOMPARE(w->SlideCount, 2);
    QCOMPARE(w->Label5->text(), QStringLiteral("03"));
    QVERIFY(!p.state.SlidesUnsaved);
}

void MovingTest::stepWithNothingSelectedChangesNothingButStillRecords()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 4);
    w->Check2->setChecked(true);
    w->Command11->click();
    QCOMPARE(w->AniGIF1.at(n)->CurrentFrame(), 0);
    QCOMPARE(w->Label5->text(), QStringLiteral("00"));
    QCOMPARE(w->FrameCounter, 0);
    QCOMPARE(w->SlideCount, 1);
}

void MovingTest::animateAndStopToggleTheCaptionAndRewind()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 4);
    select(p, 0);
    anigif::AniGif *c = w->AniGIF1.at(n);
    QVERIFY(!c->Playing());
    w->Command11->click();
    QCOMPARE(w->FrameCounter, 1);
    w->Command7->click();
    QCOMPARE(w->Command7->text(), QStringLiteral("Остановить"));
    QVERIFY(c->Playing());
    QCOMPARE(w->FrameCounter, 0);
    w->Command7->click();
    QCOMPARE(w->Command7->text(), QStringLiteral("Оживить"));
    QVERIFY(!c->Playing());
    QCOMPARE(c->CurrentFrame(), 0);
    // Selecting a running character shows "Остановить", a still one "Оживить".
    const int other = addCharacter(p, 2, QStringLiteral("other"));
    w->AniGIF1.at(other)->setPlaying(true);
    select(p, 1);
    QCOMPARE(w->Command7->text(), QStringLiteral("Остановить"));
    select(p, 0);
    QCOMPARE(w->Command7->text(), QStringLiteral("Оживить"));
}

void MovingTest::aRunningCharacterKeepsTheFrameFieldUpToDate()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 5);
    select(p, 0);
    w->Command7->click();
    anigif::AniGif *c = w->AniGIF1.at(n);
    QSignalSpy spy(c, &anigif::AniGif::FrameChanged);
    QVERIFY(spy.wait(2000));
    QCOMPARE(spy.first().first().toInt(), n);
    QCOMPARE(w->Label5->text(), QStringLiteral("%1").arg(c->CurrentFrame(), 2, 10, QLatin1Char('0')));
}

void MovingTest::selectingAnEntryMovesNothingAndRecordsNothing()
{
    Program p;
    frmMain *w = p.main.get();
    const int a = addCharacter(p, 3, QStringLiteral("a"));
    const int b = addCharacter(p, 3, QStringLiteral("b"));
    twips::move(w->AniGIF1.at(a), 900, 300);
    twips::move(w->AniGIF1.at(b), 4000, 1200);
    w->Check1->setChecked(true);
    w->Check2->setChecked(true);
    select(p, 0);
    select(p, 1);
    select(p, 0);
    QCOMPARE(w->SlideCount, 0);
    QCOMPARE(twips::geometry(w->AniGIF1.at(a)).topLeft(), QPointF(900, 300));
    QCOMPARE(twips::geometry(w->AniGIF1.at(b)).topLeft(), QPointF(4000, 1200));
    QCOMPARE(w->AniGIF1.at(a)->CurrentFrame(), 0);
    QCOMPARE(w->UpDown5->value(), 900);
    QCOMPARE(w->UpDown6->value(), -300);
    QCOMPARE(w->Label9->text(), QStringLiteral("Y = -0300"));
    // The next click moves from the selected character's own place.
    w->UpDown5->upButton()->click();
    QCOMPARE(twips::left(w->AniGIF1.at(a)), 1100.0);
    QCOMPARE(twips::left(w->AniGIF1.at(b)), 4000.0);
}

void MovingTest::aPropEntryLeavesEveryCharacterAlone()
{
    Program p;
    frmMain *w = p.main.get();
    const int c1 = addCharacter(p, 4);
    addProp(p); // prop 1: the same number as character 1
    select(p, 1);
    QCOMPARE(p.state.SelectedIndex, qint16(1));
    anigif::AniGif *c = w->AniGIF1.at(c1);
    const QRectF before = twips::geometry(c);
    w->Check1->setChecked(true);
    w->UpDown5->upButton()->click();
    w->UpDown6->downButton()->click();
    w->UpDown7->upButton()->click();
    w->UpDown7->downButton()->click();
    w->Command11->click();
    w->Command7->click();
    QCOMPARE(twips::geometry(c), before);
    QCOMPARE(c->CurrentFrame(), 0);
    QVERIFY(!c->Playing());
    QCOMPARE(w->Label4->text(), QStringLiteral("2360"));
}

void MovingTest::aDeletedCharacterIsLeftAloneAndLabelsFollowTheControls()
{
    Program p;
    frmMain *w = p.main.get();
    addCharacter(p, 4);
    select(p, 0);
    w->Command5->click();
    QCOMPARE(w->AniGIF1.count(), 1);
    w->Check2->setChecked(true);
    w->UpDown5->upButton()->click();
    QCOMPARE(w->Label4->text(), QStringLiteral("2360"));
    QCOMPARE(w->Label1.at(6)->text(), QStringLiteral("X = 2360"));
    QCOMPARE(w->SlideCount, 1); // the recording runs even when the move found nothing
    w->UpDown7->upButton()->click();
    w->Command11->click();
    QCOMPARE(twips::geometry(w->AniGIF1.at(0)), QRectF(2160, 0, 1320, 1410));
}

void MovingTest::holdingAnArrowRecordsOneSlidePerStep()
{
    Program p;
    frmMain *w = p.main.get();
    const int n = addCharacter(p, 8);
    select(p, 0);
    w->Check1->setChecked(true);
    w->Check2->setChecked(true);
    w->UpDown5->setIncrement(10);
    w->UpDown5->setRepeat(50, 20);
    QSignalSpy steps(w->UpDown5, &controls::SpinControl::Change);
    QTest::mousePress(w->UpDown5->upButton(), Qt::LeftButton);
    QTest::qWait(600);
    QTest::mouseRelease(w->UpDown5->upButton(), Qt::LeftButton);
    QTest::qWait(100);
    QVERIFY(steps.count() >= 3);
    QCOMPARE(w->SlideCount, steps.count());
    QCOMPARE(twips::left(w->AniGIF1.at(n)), 2160.0 + 10 * steps.count());
    QCOMPARE(w->AniGIF1.at(n)->CurrentFrame(), steps.count() % 8);
}

QTEST_MAIN(MovingTest)
#include "test_moving.moc"
