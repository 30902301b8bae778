// Composing by eye: the onion skin shows the last slide over the stage but
// never reaches a slide, and the record key records from anywhere in the
// main window, under any keyboard layout, once per key press or repeat.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QTest>
#include <QToolButton>

#include "Program.h"
#include "controls/SpinControl.h"
#include "picker/AssetLibrary.h"
#include "slides/OnionSkin.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

void fillStage(Program &p, QRgb colour)
{
    QImage back(600, 500, QImage::Format_RGB32);
    back.fill(colour);
    p.main->Picture3->setPicture(back);
    QCoreApplication::processEvents();
}

// What a person sees at the middle of the stage: the stage box drawn with everything lying on it.
QColor seenAtCentre(Program &p)
{
    const QImage shown = p.main->Picture7->grab().toImage();
    return shown.pixelColor(shown.width() / 2, shown.height() / 2);
}

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// What a key press of `key` carries, with the text the active layout gives it.
struct KeyPress {
    Qt::Key key;
    QString text;
};

// A key going down (or repeating while held) as the window system delivers it: to the shortcuts
// first, then to the widget with the focus.
void keyDown(QWidget *focus, const KeyPress &k, bool repeat = false)
{
    if (!qt_sendShortcutOverrideEvent(focus, 0, k.key, Qt::NoModifier, k.text, repeat)) {
        QKeyEvent e(QEvent::KeyPress, k.key, Qt::NoModifier, k.text, repeat);
        QCoreApplication::sendEvent(focus, &e);
    }
}

void keyUp(QWidget *focus, const KeyPress &k)
{
    QKeyEvent e(QEvent::KeyRelease, k.key, Qt::NoModifier, k.text);
    QCoreApplication::sendEvent(focus, &e);
}

void press(QWidget *focus, const KeyPress &k)
{
    keyDown(focus, k);
    keyUp(focus, k);
}

void activate(Program &p)
{
    p.main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(p.main.get()));
}

} // namespace

class TestComposing : public QObject {
    Q_OBJECT
private slots:
    void theOnionSkinShowsTheLastSlideFaintlyAndNeverReachesASlide();
    void theOnionSkinFollowsRecordingsAndClearing();
    void theOnionSkinOnScreenFollowsAStageThatChangesInPlaces();
    void theOnionSkinLetsTheMouseThroughToTheScene();
    void theRecordKeyRecordsWhateverHasTheFocusAndPressesNothing_data();
    void theRecordKeyRecordsWhateverHasTheFocusAndPressesNothing();
    void theRecordKeyWorksUnderTheRussianLayoutAndNoLetterRecords();
    void aHeldRecordKeyRecordsOneSlidePerRepeat();
    void theRecordButtonNamesItsKey();
    void everySampleCharacterFacesBothWaysSideBySide();
};

void TestComposing::theOnionSkinShowsTheLastSlideFaintlyAndNeverReachesASlide()
{
    Program p;
    p.main->AniGIF2->hide();
    QVERIFY(!p.main->Check3->isChecked());
    // Ticked with no slide yet, it shows nothing.
    p.main->Check3->setChecked(true);
    QVERIFY(!p.main->OnionSkin->isVisible());
    fillStage(p, qRgb(0, 0, 0));
    QCOMPARE(seenAtCentre(p), QColor(0, 0, 0));

    p.main->Check3->setChecked(false);
    fillStage(p, qRgb(240, 240, 240));
    p.main->Command2_Click();
    fillStage(p, qRgb(0, 90, 0));
    p.main->Command2_Click();
    const QImage clearShot = p.main->Buffer()->slide(2);

    // Ticked: the last slide (green) lies a third strong over a stage turned black.
    p.main->Check3->setChecked(true);
    QVERIFY(p.main->OnionSkin->isVisible());
    fillStage(p, qRgb(0, 0, 0));
    QVERIFY2(near(seenAtCentre(p), QColor(0, 30, 0)), qPrintable(seenAtCentre(p).name()));

    // A slide recorded with it ticked equals one recorded with it clear.
    fillStage(p, qRgb(0, 90, 0));
    QVERIFY2(near(seenAtCentre(p), QColor(0, 90, 0)), qPrintable(seenAtCentre(p).name()));
    p.main->Command2_Click();
    QCOMPARE(p.main->Buffer()->slide(3), clearShot);
    // Even while the overlay shows something else than the stage.
    fillStage(p, qRgb(240, 240, 240));
    p.main->Command2_Click();
    QVERIFY(p.main->OnionSkin->isVisible());
    QCOMPARE(p.main->Buffer()->slide(4), p.main->Buffer()->slide(1));
    QCOMPARE(p.main->Buffer()->slide(4).convertToFormat(QImage::Format_RGB32),
             slides::captureStage(p.main->Picture7->client()));
    QCOMPARE(p.main->Picture4->picture(), slides::captureStage(p.main->Picture7->client()));
}

void TestComposing::theOnionSkinFollowsRecordingsAndClearing()
{
    Program p;
    p.main->AniGIF2->hide();
    p.main->Check3->setChecked(true);
    fillStage(p, qRgb(0, 0, 240));
    p.main->Command2_Click();
    QVERIFY(p.main->OnionSkin->isVisible());
    fillStage(p, qRgb(0, 0, 0));
    QVERIFY2(near(seenAtCentre(p), QColor(0, 0, 80)), qPrintable(seenAtCentre(p).name()));

    // Each recording replaces what it shows with the newest slide.
    fillStage(p, qRgb(240, 0, 0));
    p.main->Command2_Click();
    fillStage(p, qRgb(0, 0, 0));
    QVERIFY2(near(seenAtCentre(p), QColor(80, 0, 0)), qPrintable(seenAtCentre(p).name()));

    // "Очистка" leaves nothing to show.
    p.main->Command1_Click();
    QVERIFY(!p.main->OnionSkin->isVisible());
    QCOMPARE(seenAtCentre(p), QColor(0, 0, 0));

    // Any other change to the slides reaches it through the buffer's one signal.
    fillStage(p, qRgb(0, 240, 0));
    p.main->Command2_Click();
    fillStage(p, qRgb(0, 0, 0));
    p.main->Buffer()->clear();
    QVERIFY(!p.main->OnionSkin->isVisible());

    // Clear, it shows nothing; ticked again, the newest slide comes back.
    fillStage(p, qRgb(0, 240, 0));
    p.main->Command2_Click();
    p.main->Check3->setChecked(false);
    QVERIFY(!p.main->OnionSkin->isVisible());
    fillStage(p, qRgb(0, 0, 0));
    QCOMPARE(seenAtCentre(p), QColor(0, 0, 0));
    p.main->Check3->setChecked(true);
    QVERIFY2(near(seenAtCentre(p), QColor(0, 80, 0)), qPrintable(seenAtCentre(p).name()));
}

void TestComposing::theOnionSkinOnScreenFollowsAStageThatChangesInPlaces()
{
    // Only the parts of the stage that changed are repainted after a recording: what the screen really
    // shows (not a fresh drawing of the widgets) must be the newest slide everywhere.
    Program p;
    p.main->AniGIF2->hide();
    fillStage(p, qRgb(0, 0, 0));
    QWidget *stage = p.main->Picture7->client();
    auto *block = new QWidget(p.main->Picture3->client());
    block->setAutoFillBackground(true);
    QPalette pal = block->palette();
    pal.setColor(QPalette::Window, QColor(240, 0, 0));
    block->setPalette(pal);
    block->setGeometry(40, 40, 30, 30);
    block->show();
    p.main->Check3->setChecked(true);
    const QPoint origin = stage->mapTo(p.main.get(), QPoint(0, 0)) + p.main->Picture3->client()->mapTo(stage, QPoint(0, 0));
    const auto onScreen = [&](QPoint at) {
        QCoreApplication::processEvents();
        const QPoint w = origin + at;
        return p.main->screen()->grabWindow(p.main->winId(), w.x(), w.y(), 1, 1).toImage().pixelColor(0, 0);
    };
    const QList<QPoint> places{{40, 40}, {200, 150}, {300, 60}};
    for (int i = 0; i < places.size(); ++i) {
        block->move(places[i]);
        p.main->Command2_Click();
        // Moved on without recording: the last slide shows the block faintly at its old place, and its
        // black dims the block at the new one by a third.
        block->move(150, 250);
        const QPoint inside(15, 15);
        QVERIFY2(near(onScreen(places[i] + inside), QColor(80, 0, 0)), qPrintable(onScreen(places[i] + inside).name()));
        QVERIFY2(near(onScreen(QPoint(150, 250) + inside), QColor(160, 0, 0)),
                 qPrintable(onScreen(QPoint(150, 250) + inside).name()));
        // The slides before leave nothing behind.
        for (int k = 0; k < i; ++k)
            QVERIFY2(onScreen(places[k] + inside) == QColor(0, 0, 0), qPrintable(QString::number(k)));
    }
}

void TestComposing::theOnionSkinLetsTheMouseThroughToTheScene()
{
    Program p;
    p.main->Check3->setChecked(true);
    p.main->Command2_Click();
    QVERIFY(p.main->OnionSkin->isVisible());
    // Whatever lies under the middle of the stage gets the click, never the overlay.
    QWidget *under = p.main->childAt(p.main->Picture7->geometry().center());
    QVERIFY(under);
    QVERIFY(under != p.main->OnionSkin);
    QCOMPARE(p.main->OnionSkin->geometry(), p.main->Picture7->client()->geometry());
}

void TestComposing::theRecordKeyRecordsWhateverHasTheFocusAndPressesNothing_data()
{
    QTest::addColumn<QString>("focus");
    for (const char *name : {"Command2", "Command1", "Check2", "Check3", "Combo1", "UpDown5", "List1", "UpDown7"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestComposing::theRecordKeyRecordsWhateverHasTheFocusAndPressesNothing()
{
    QFETCH(QString, focus);
    Program p;
    activate(p);
    // One slide first, so that "Очистка" is enabled and would show if the key pressed it.
    p.main->Command2_Click();
    p.main->state().SlidesUnsaved = false;
    QWidget *target = p.main->findChild<QWidget *>(focus);
    QVERIFY(target);
    if (auto *spin = qobject_cast<controls::SpinControl *>(target))
        target = spin->upButton();
    target->setFocus();
    QCOMPARE(QApplication::focusWidget(), target);
    const bool check2 = p.main->Check2->isChecked(), check3 = p.main->Check3->isChecked();
    const QString step = p.main->Combo1->currentText();
    const int x = p.main->UpDown5->value();

    press(target, {Qt::Key_F5, QString()});
    QCOMPARE(p.main->SlideCount, 2);
    QCOMPARE(p.main->Buffer()->slideCount(), 2);
    QCOMPARE(p.main->Label3.at(1)->text(), QStringLiteral("002"));
    QVERIFY(p.main->state().SlidesUnsaved);
    // Nothing of the focused control moved.
    QCOMPARE(p.main->Check2->isChecked(), check2);
    QCOMPARE(p.main->Check3->isChecked(), check3);
    QCOMPARE(p.main->Combo1->currentText(), step);
    QCOMPARE(p.main->UpDown5->value(), x);
    QCOMPARE(QApplication::focusWidget(), target);
}

void TestComposing::theRecordKeyWorksUnderTheRussianLayoutAndNoLetterRecords()
{
    Program p;
    activate(p);
    p.main->Combo1->setFocus();
    // F5 comes as the same key under every layout. The letters, what the Russian layout gives the keys
    // R, Z and F, stay with the focused control and record nothing.
    press(p.main->Combo1, {Qt::Key_F5, QString()});
    QCOMPARE(p.main->SlideCount, 1);
    p.main->List1->setFocus();
    // Qt gives a letter the code of its capital.
    for (const KeyPress &k : {KeyPress{Qt::Key(0x041A), QStringLiteral("к")}, KeyPress{Qt::Key(0x042F), QStringLiteral("я")},
                              KeyPress{Qt::Key(0x0410), QStringLiteral("а")}})
        press(p.main->List1, k);
    QCOMPARE(p.main->SlideCount, 1);
    press(p.main->List1, {Qt::Key_F5, QString()});
    QCOMPARE(p.main->SlideCount, 2);
    // While another window is active, the key is not the main window's to take.
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    press(&other, {Qt::Key_F5, QString()});
    QCOMPARE(p.main->SlideCount, 2);
}

void TestComposing::aHeldRecordKeyRecordsOneSlidePerRepeat()
{
    Program p;
    activate(p);
    p.main->UpDown5->upButton()->setFocus();
    QWidget *focus = QApplication::focusWidget();
    const KeyPress f5{Qt::Key_F5, QString()};
    keyDown(focus, f5);
    for (int i = 0; i < 24; ++i)
        keyDown(focus, f5, true);
    keyUp(focus, f5);
    QCOMPARE(p.main->SlideCount, 25);
    QCOMPARE(p.main->Buffer()->slideCount(), 25);
    QCOMPARE(p.main->Label3.at(1)->text(), QStringLiteral("025"));
}

void TestComposing::theRecordButtonNamesItsKey()
{
    Program p;
    QVERIFY(p.main->Command2->toolTip().contains(QStringLiteral("F5")));
    QCOMPARE(p.main->RecordKey->key(), QKeySequence(Qt::Key_F5));
}

void TestComposing::everySampleCharacterFacesBothWaysSideBySide()
{
    const QString folder = QStringLiteral(VELLUMO_SAMPLE_LIBRARY "/objects");
    // In the picker's order, each right-facing action is followed at once by its left-facing copy.
    const QStringList files = picker::listAssets(folder, QStringLiteral("*.gif"));
    QVERIFY(files.size() >= 18);
    QCOMPARE(files.size() % 2, 0);
    for (int i = 0; i < files.size(); i += 2) {
        const QString right = picker::assetName(files.at(i)), left = picker::assetName(files.at(i + 1));
        QVERIFY2(right.endsWith(QStringLiteral("▸")) && left.endsWith(QStringLiteral("◂")),
                 qPrintable(right + QStringLiteral(" / ") + left));
        QCOMPARE(left.chopped(1), right.chopped(1));
        // Drawn facing the other way in the file itself: the program never flips a picture.
        QImage r(folder + QLatin1Char('/') + files.at(i)), l(folder + QLatin1Char('/') + files.at(i + 1));
        QVERIFY(!l.isNull() && !r.isNull());
        QVERIFY2(l != r, qPrintable(left));
        QCOMPARE(l.convertToFormat(QImage::Format_ARGB32), r.mirrored(true, false).convertToFormat(QImage::Format_ARGB32));
    }
}

QTEST_MAIN(TestComposing)
#include "test_composing.moc"
