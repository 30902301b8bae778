// The platform stand-ins every window builds on: the spin control, control
// arrays with a template, twips placement, the number patterns and the
// message boxes.

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <QDialog>

#include "controls/Button.h"
#include "controls/ControlArray.h"
#include "controls/Messages.h"
#include "controls/NumberFormat.h"
#include "controls/ProgressBar.h"
#include "controls/SpinControl.h"
#include "controls/Twips.h"
#include "controls/WindowFrame.h"

using controls::SpinControl;

class ControlsTest : public QObject {
    Q_OBJECT
private slots:
    void numberPatternsPadAndKeepTheSignInFront();
    void twipsStayExactAcrossManySmallShifts();
    void twipsRoundEdgesToTheNearestPixel();

    void spinStepsByItsIncrementAndStopsAtTheLimits();
    void spinUpArrowHeadsForTheMaximumInABackwardsRange();
    void spinRaisesOneChangePerStepAndNoneAtALimit();
    void spinClickEventsComeEvenAtTheLimits();
    void spinRefusesAValueOutsideItsRangeAndIsQuietWhenSetByTheProgram();
    void spinArrowKeysStepWhileFocused();
    void spinAutoRepeatMakesOneStepPerRepeat();
    void spinNestedStepsDuringAHandlerAreEachCounted();

    void arrayElementIsAHiddenCopyOfTheTemplate();
    void arrayDestroyKeepsTheTemplateAndNeverReusesTakenIndices();

    void messageBoxesAnswerInRussianAndEscapeCancels();
    void enterPressesTheFocusedButtonAsSpaceDoes();
    void progressBarFillsFromTheLeft();
    void aChildWindowsHandleLeavesItsParentsWidgetsPlain();
};

void ControlsTest::numberPatternsPadAndKeepTheSignInFront()
{
    QCOMPARE(numfmt::pos4(2160), QStringLiteral("2160"));
    QCOMPARE(numfmt::pos4(90), QStringLiteral("0090"));
    QCOMPARE(numfmt::pos4(-120), QStringLiteral("-0120"));
    QCOMPARE(numfmt::pos4(-300), QStringLiteral("-0300"));
    QCOMPARE(numfmt::pos4(0), QStringLiteral("0000"));
    QCOMPARE(numfmt::pos4(-32768), QStringLiteral("-32768"));
    QCOMPARE(numfmt::count3(1), QStringLiteral("001"));
    QCOMPARE(numfmt::count3(25), QStringLiteral("025"));
    QCOMPARE(numfmt::count3(1000), QStringLiteral("1000"));
    QCOMPARE(numfmt::frame2(7), QStringLiteral("07"));
    QCOMPARE(numfmt::frame2(12), QStringLiteral("12"));
    QCOMPARE(numfmt::pad(std::numeric_limits<qint64>::min(), 4), QStringLiteral("-9223372036854775808"));
}

void ControlsTest::twipsStayExactAcrossManySmallShifts()
{
    QWidget parent;
    QWidget child(&parent);
    twips::setGeometry(&child, 100, 0, 1320, 1410);
    // A grow shifts by -220/-350 and a shrink back by +220/+350: never a pixel of drift.
    for (int i = 0; i < 50; ++i) {
        twips::setGeometry(&child, twips::left(&child) - 220, twips::top(&child) - 350, twips::width(&child) + 500,
                           twips::height(&child) + 500);
    }
    for (int i = 0; i < 50; ++i) {
        twips::setGeometry(&child, twips::left(&child) + 220, twips::top(&child) + 350, twips::width(&child) - 500,
                           twips::height(&child) - 500);
    }
    QCOMPARE(twips::geometry(&child), QRectF(100, 0, 1320, 1410));
    QCOMPARE(child.geometry(), QRect(7, 0, 88, 94));
}

void ControlsTest::twipsRoundEdgesToTheNearestPixel()
{
    QCOMPARE(twips::toPixels(-45), -3);
    QCOMPARE(twips::toPixels(220), 15);  // 14.67
    QCOMPARE(twips::toPixels(-120), -8);
    QCOMPARE(twips::toPixels(QRectF(-45, -45, 6030, 5280)), QRect(-3, -3, 402, 352));
    QWidget w;
    w.setGeometry(10, 20, 30, 40); // placed in pixels: read back as twips
    QCOMPARE(twips::geometry(&w), QRectF(150, 300, 450, 600));
}

void ControlsTest::spinStepsByItsIncrementAndStopsAtTheLimits()
{
    SpinControl s(Qt::Horizontal);
    s.setRange(1, 24);
    s.setValue(12);
    s.setIncrement(4);
    QList<int> seen;
    for (int i = 0; i < 4; ++i) {
        s.stepUp();
        seen << s.value();
    }
    QCOMPARE(seen, (QList<int>{16, 20, 24, 24}));
    seen.clear();
    s.setValue(12);
    for (int i = 0; i < 4; ++i) {
        s.stepDown();
        seen << s.value();
    }
    QCOMPARE(seen, (QList<int>{8, 4, 1, 1}));
    seen.clear();
    for (int i = 0; i < 6; ++i) {
        s.stepUp();
        seen << s.value();
    }
    QCOMPARE(seen, (QList<int>{5, 9, 13, 17, 21, 24}));
}

void ControlsTest::spinUpArrowHeadsForTheMaximumInABackwardsRange()
{
    SpinControl s(Qt::Horizontal);
    s.setRange(1500, 0); // minimum above maximum
    s.setIncrement(200);
    QVERIFY(s.setValue(0));
    s.stepDown();
    QCOMPARE(s.value(), 200);
    s.stepUp();
    QCOMPARE(s.value(), 0);
    for (int i = 0; i < 10; ++i)
        s.stepDown();
    QCOMPARE(s.value(), 1500);
    QVERIFY(s.setValue(700));
    QVERIFY(!s.setValue(1600));
    QVERIFY(!s.setValue(-1));
}

void ControlsTest::spinRaisesOneChangePerStepAndNoneAtALimit()
{
    SpinControl s(Qt::Horizontal);
    s.setRange(-5000, 32000);
    s.setValue(2160);
    s.setIncrement(200);
    QSignalSpy change(&s, &SpinControl::Change);
    s.upButton()->click();
    s.upButton()->click();
    s.downButton()->click();
    QCOMPARE(change.count(), 3);
    QCOMPARE(change.at(0).at(0).toInt(), 2360);
    QCOMPARE(change.at(2).at(0).toInt(), 2360);
    s.setValue(32000);
    change.clear();
    s.upButton()->click();
    QCOMPARE(change.count(), 0);
    s.setValue(31900); // part of a step is still taken, up to the limit
    s.upButton()->click();
    QCOMPARE(change.count(), 1);
    QCOMPARE(s.value(), 32000);
}

void ControlsTest::spinClickEventsComeEvenAtTheLimits()
{
    // The size control sits at its maximum from the start and still grows on each up click.
    SpinControl s(Qt::Horizontal);
    s.setRange(100, 1000);
    s.setValue(1000);
    s.setIncrement(10);
    QSignalSpy up(&s, &SpinControl::UpClick);
    QSignalSpy down(&s, &SpinControl::DownClick);
    QSignalSpy change(&s, &SpinControl::Change);
    s.upButton()->click();
    s.upButton()->click();
    s.downButton()->click();
    QCOMPARE(up.count(), 2);
    QCOMPARE(down.count(), 1);
    QCOMPARE(change.count(), 1);
}

void ControlsTest::spinRefusesAValueOutsideItsRangeAndIsQuietWhenSetByTheProgram()
{
    SpinControl s(Qt::Vertical);
    s.setRange(-5000, 0);
    s.setIncrement(100);
    QSignalSpy change(&s, &SpinControl::Change);
    QVERIFY(s.setValue(-300));
    QVERIFY(!s.setValue(300)); // a Top of -300 cannot be shown: the value stays
    QCOMPARE(s.value(), -300);
    QCOMPARE(change.count(), 0);
    // A narrower range pulls the value inside, quietly.
    s.setRange(-100, 0);
    QCOMPARE(s.value(), -100);
    QCOMPARE(change.count(), 0);
}

void ControlsTest::spinArrowKeysStepWhileFocused()
{
    SpinControl h(Qt::Horizontal);
    h.setRange(0, 1000);
    h.setIncrement(100);
    QTest::keyClick(&h, Qt::Key_Right);
    QTest::keyClick(&h, Qt::Key_Up);
    QCOMPARE(h.value(), 200);
    QTest::keyClick(&h, Qt::Key_Left);
    QCOMPARE(h.value(), 100);
    QTest::keyClick(&h, Qt::Key_Down);
    QCOMPARE(h.value(), 0);
}

void ControlsTest::spinAutoRepeatMakesOneStepPerRepeat()
{
    SpinControl s(Qt::Horizontal);
    s.setRange(0, 100000);
    s.setIncrement(1);
    s.setRepeat(50, 20);
    s.show();
    QSignalSpy change(&s, &SpinControl::Change);
    QSignalSpy up(&s, &SpinControl::UpClick);
    QTest::mousePress(s.upButton(), Qt::LeftButton);
    QTest::qWait(400);
    QTest::mouseRelease(s.upButton(), Qt::LeftButton);
    QVERIFY2(change.count() >= 5, "holding the arrow repeats the step");
    // Every step is a change of exactly one increment, no step lost or doubled.
    QCOMPARE(s.value(), change.count());
    QCOMPARE(up.count(), change.count());
    const int afterRelease = s.value();
    QTest::qWait(150);
    QCOMPARE(s.value(), afterRelease);
}

void ControlsTest::spinNestedStepsDuringAHandlerAreEachCounted()
{
    // A handler that lets pending events run sees further repeats nested inside it.
    SpinControl s(Qt::Horizontal);
    s.setRange(0, 100000);
    s.setIncrement(1);
    s.setRepeat(30, 10);
    s.show();
    int handled = 0;
    QList<int> values;
    connect(&s, &SpinControl::Change, &s, [&](int v) {
        ++handled;
        values << v;
        QThread::msleep(8);
        QCoreApplication::processEvents();
    });
    QTest::mousePress(s.upButton(), Qt::LeftButton);
    QTest::qWait(300);
    QTest::mouseRelease(s.upButton(), Qt::LeftButton);
    QTest::qWait(50);
    QCOMPARE(handled, s.value());
    QList<int> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < sorted.size(); ++i)
        QCOMPARE(sorted[i], i + 1);
}

void ControlsTest::arrayElementIsAHiddenCopyOfTheTemplate()
{
    QWidget container;
    auto *templ = new QLabel(&container);
    QFont f = templ->font();
    f.setPointSizeF(13.5);
    templ->setFont(f);
    twips::setGeometry(templ, 2160, 0, 1320, 1410);
    templ->setToolTip(QStringLiteral("tip"));
    controls::ControlArray<QLabel> array(QStringLiteral("Label9"), templ);
    container.show();
    QLabel *e = array.create(3);
    QVERIFY(e);
    QCOMPARE(e->parentWidget(), &container);
    QVERIFY(e->isHidden());
    QCOMPARE(twips::geometry(e), QRectF(2160, 0, 1320, 1410));
    QCOMPARE(e->font().pointSizeF(), 13.5);
    QCOMPARE(e->toolTip(), QStringLiteral("tip"));
    QCOMPARE(e->objectName(), QStringLiteral("Label9"));
    QCOMPARE(e->property("index").toInt(), 3);
    QCOMPARE(templ->property("index").toInt(), 0);
    QCOMPARE(array.count(), 2);
    QVERIFY(!array.create(3));
    QVERIFY(!array.create(0));
    QVERIFY(!array.create(-1));
}

void ControlsTest::arrayDestroyKeepsTheTemplateAndNeverReusesTakenIndices()
{
    QWidget container;
    controls::ControlArray<QLabel> array(QStringLiteral("X"), new QLabel(&container));
    for (int i = 1; i <= 3; ++i)
        QVERIFY(array.create(i));
    QPointer<QLabel> second = array.at(2);
    QVERIFY(array.destroy(2));
    QVERIFY(second.isNull());
    QVERIFY(!array.destroy(2));
    QVERIFY(!array.destroy(0));
    QCOMPARE(array.count(), 3);
    QCOMPARE(array.indices(), (QList<int>{0, 1, 3}));
    QVERIFY(!array.exists(2));
    QVERIFY(array.at(0));
    // An element deleted behind the array's back is no longer counted.
    delete array.at(1);
    QCOMPARE(array.count(), 2);
}

void ControlsTest::messageBoxesAnswerInRussianAndEscapeCancels()
{
    // Each box is answered from inside its own event loop, by a key as a person would.
    const auto ask = [](controls::MsgButtons buttons, int key, QStringList *texts) {
        QTimer::singleShot(0, [key, texts] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            for (QAbstractButton *b : box->buttons())
                texts->append(b->text());
            QTest::keyClick(box, Qt::Key(key));
        });
        return controls::showMessageBox(nullptr, {QStringLiteral("Буфер не пустой, сохраните слайды."),
                                                  QStringLiteral("Внимание..."), controls::MsgIcon::None, buttons});
    };
    QStringList texts;
    QCOMPARE(ask(controls::MsgButtons::OkCancel, Qt::Key_Escape, &texts), controls::MsgResult::Cancel);
    texts.sort();
    QCOMPARE(texts, (QStringList{QStringLiteral("ОК"), QStringLiteral("Отмена")}));
    texts.clear();
    QCOMPARE(ask(controls::MsgButtons::OkCancel, Qt::Key_Return, &texts), controls::MsgResult::Ok);
    texts.clear();
    QCOMPARE(ask(controls::MsgButtons::Ok, Qt::Key_Return, &texts), controls::MsgResult::Ok);
    QCOMPARE(texts, QStringList{QStringLiteral("ОК")});
    // After an export: "ОК" stays the default and Escape's; the other button opens the folder.
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        texts.clear();
        QCOMPARE(ask(controls::MsgButtons::OkOpenFolder, key, &texts), controls::MsgResult::Ok);
        texts.sort();
        QCOMPARE(texts, (QStringList{QStringLiteral("ОК"), QStringLiteral("Открыть папку")}));
    }
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->findChild<QPushButton *>(QStringLiteral("OpenFolder"))->click(); });
    QCOMPARE(controls::showMessageBox(nullptr, {QStringLiteral("Готово"), QString(), controls::MsgIcon::Information,
                                                controls::MsgButtons::OkOpenFolder}),
             controls::MsgResult::OpenFolder);
}

void ControlsTest::enterPressesTheFocusedButtonAsSpaceDoes()
{
    // In a plain window, which has no default button at all.
    QWidget window;
    auto *first = new controls::Button(QStringLiteral("Первая"), &window);
    auto *second = new controls::Button(QStringLiteral("&Вторая"), &window);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QSignalSpy firstClicks(first, &QPushButton::clicked);
    QSignalSpy secondClicks(second, &QPushButton::clicked);
    second->setFocus();
    QTest::keyClick(second, Qt::Key_Return);
    QTest::keyClick(second, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(second, Qt::Key_Space);
    QCOMPARE(secondClicks.count(), 3);
    QCOMPARE(firstClicks.count(), 0);
    // The access key still presses its button wherever the focus is.
    first->setFocus();
    QTest::sendKeyEvent(QTest::Click, first, Qt::Key(0x0412), QStringLiteral("в"), Qt::AltModifier); // Alt+В
    QTRY_COMPARE(secondClicks.count(), 4); // an access key presses with a short animation
    QCOMPARE(firstClicks.count(), 0);

    // In a dialog, the focused button rather than the default one.
    QDialog dialog;
    auto *ok = new controls::Button(QStringLiteral("Ok"), &dialog);
    auto *other = new controls::Button(QStringLiteral("Другая"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    dialog.show();
    QSignalSpy otherClicks(other, &QPushButton::clicked);
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    QCOMPARE(otherClicks.count(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(dialog.isVisible());
}

void ControlsTest::progressBarFillsFromTheLeft()
{
    controls::ProgressBar bar;
    bar.resize(340, 19);
    bar.setRange(0, 4);
    bar.setValue(1);
    const QImage quarter = bar.grab().toImage();
    // The whole height of the left quarter is filled, none of the rest.
    const auto filled = [&](int x, int y) { return qBlue(quarter.pixel(x, y)) > qRed(quarter.pixel(x, y)) + 60; };
    for (int y : {4, 9, 14}) {
        QVERIFY2(filled(20, y), qPrintable(QString::number(y)));
        QVERIFY2(!filled(120, y) && !filled(300, y), qPrintable(QString::number(y)));
    }
}

void ControlsTest::aChildWindowsHandleLeavesItsParentsWidgetsPlain()
{
    // A native sibling would take its clicks through a window of its own; only the child window gets a handle.
    QWidget main;
    auto *client = new QWidget(&main);
    auto *dialog = new QDialog(&main);
    controls::clearWindowIcon(dialog);
    QVERIFY(dialog->windowHandle() && !client->testAttribute(Qt::WA_NativeWindow));
}

QTEST_MAIN(ControlsTest)
#include "test_controls.moc"
