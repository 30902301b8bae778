// Placing the chosen file: backgrounds, characters, props and a character's
// new action, through the picker and through the main window's buttons.
#include <QLabel>
#include <QListWidget>
#include <QStandardPaths>
#include <QTest>

#include "PickerTestKit.h"
#include "controls/Twips.h"
#include "picker/ObjectEntry.h"
#include "picker/Placing.h"

using namespace pickerkit;
using testcommon::Program;

namespace {

// A program whose library holds a few characters, props and backgrounds.
struct Library {
    Program p;
    Library()
    {
        const QString objects = assetFolder(p, "objects");
        testcommon::writeSimpleGif(objects, "cat.gif", QSize(40, 30), 6);
        testcommon::writeSimpleGif(objects, "Кот идёт.gif", QSize(50, 50), 4);
        testcommon::writeSimpleGif(objects, "DOG.GIF", QSize(60, 20), 3);
        testcommon::writeBytes(objects, "broken.gif", QByteArray("GIF89a", 6));
        const QString articles = assetFolder(p, "articles");
        colourGif(articles, "ball.gif", QSize(30, 20), Qt::red);
        testcommon::writeSimpleGif(articles, "flag.gif", QSize(10, 40), 5);
        const QString fones = assetFolder(p, "fones");
        picture(fones, "small.png", QSize(300, 300), Qt::green, "PNG");
        picture(fones, "large.jpg", QSize(500, 400), Qt::blue, "JPG");
        picture(fones, "stage.bmp", QSize(400, 350), Qt::yellow, "BMP");
    }
    frmMain &m() { return *p.main; }
    QStringList entries() { return p.entries(); }
    void select(int row) { m().List1->setCurrentRow(row); }
};

} // namespace

class TestPlacing : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void loadButtonsRetireTheStageAnimationAndOpenTheirFolder();
    void aSmallerBackgroundPansInsideTheStage();
    void aLargerBackgroundPansAcrossTheStage();
    void choosingABackgroundTwiceReplacesItAndAddsNoEntry();
    void aCharacterStandsStillAtTheTemplatePlaceWithItsEntry();
    void charactersAndPropsAreCountedApart();
    void aPropTakesItsPicturesSizeAndDoesNotAnimate();
    void anUnreadableCharacterStillGetsItsElementAndEntry();
    void doubleClickChoosesTheCell();
    void changingTheActionKeepsTheElementItsPlaceAndItsNumber();
    void changingTheActionNeedsASelectedCharacterEntry();
    void anUnreadableActionKeepsTheOldOne();
    void countersStopAtTheLastNumberInsteadOfWrapping();
};

void TestPlacing::loadButtonsRetireTheStageAnimationAndOpenTheirFolder()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(m.AniGIF2->Playing());
    struct Case {
        controls::Button *button;
        QString mode;
        QString firstFile;
    };
    // Each press opens the picker modally; a queued close answers it.
    const QList<Case> cases = {{m.Command4, "fon", "large.jpg"},
                               {m.Command4, "fon", "large.jpg"},
                               {m.Command3, "person", "broken.gif"},
                               {m.Command12, "articles", "ball.gif"}};
    for (const Case &c : cases) {
        QString listed;
        QTimer::singleShot(0, &m, [&] {
            frmFon *fon = m.Fon();
            if (QTest::qWaitFor([fon] { return fon->gridComplete(); }, 20000))
                listed = fon->fileName(0);
            fon->Command1->click();
        });
        c.button->click();
        QCOMPARE(m.state().PickerMode, c.mode);
        QCOMPARE(listed, c.firstFile);
        QVERIFY(!m.AniGIF2->Playing());
        QVERIFY(m.AniGIF2->isHidden());
        QVERIFY(!m.Fon()->isVisible());
    }
    QCOMPARE(m.Fon()->parent(), &m);
    QCOMPARE(m.Fon()->objectName(), QString("frmFon"));
}

void TestPlacing::aSmallerBackgroundPansInsideTheStage()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "fon", "small.png"));
    QCOMPARE(m.Picture3->picture().size(), QSize(300, 300));
    QCOMPARE(m.Picture3->scaleWidth(), 4500.0);
    // 6000 - 4500 and 5000 - 4500: the picture moves between the stage's edges.
    QCOMPARE(m.UpDown3->minimum(), 0);
    QCOMPARE(m.UpDown3->maximum(), 1500);
    QCOMPARE(m.UpDown4->minimum(), 0);
    QCOMPARE(m.UpDown4->maximum(), 500);
    QCOMPARE(m.Label3.at(0)->text(), QString("W = 4500"));
    QCOMPARE(m.Label3.at(2)->text(), QString("H = 4500"));
    QVERIFY(m.Command9->isEnabled());
}

void TestPlacing::aLargerBackgroundPansAcrossTheStage()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "fon", "large.jpg"));
    QCOMPARE(m.UpDown3->minimum(), -1500);
    QCOMPARE(m.UpDown3->maximum(), 0);
    QCOMPARE(m.UpDown4->minimum(), -1000);
    QCOMPARE(m.UpDown4->maximum(), 0);
    QCOMPARE(m.Label3.at(0)->text(), QString("W = 7500"));
    QCOMPARE(m.Label3.at(2)->text(), QString("H = 6000"));

    QVERIFY(choose(lib.p, "fon", "stage.bmp"));
    QCOMPARE(m.UpDown3->minimum(), 0);
    QCOMPARE(m.UpDown3->maximum(), 0);
    QCOMPARE(m.UpDown4->minimum(), -250);
    QCOMPARE(m.Label3.at(2)->text(), QString("H = 5250"));
}

void TestPlacing::choosingABackgroundTwiceReplacesItAndAddsNoEntry()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "fon", "large.jpg"));
    QVERIFY(choose(lib.p, "fon", "small.png"));
    QCOMPARE(centreColour(m.Picture3->picture()), QColor(Qt::green));
    QCOMPARE(m.List1->count(), 0);
    QCOMPARE(lib.p.state.CharacterCount, qint16(0));
    QCOMPARE(lib.p.state.PropCount, qint16(0));
}

void TestPlacing::aCharacterStandsStillAtTheTemplatePlaceWithItsEntry()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(!m.Command6->isEnabled());
    QVERIFY(choose(lib.p, "person", "Кот идёт.gif"));
    QCOMPARE(lib.p.state.CharacterCount, qint16(1));
    anigif::AniGif *c = m.AniGIF1.at(1);
    QVERIFY(c && c->isVisible());
    QCOMPARE(c->objectName(), QString("AniGIF1"));
    QCOMPARE(twips::left(c), 2160.0);
    QCOMPARE(twips::top(c), 0.0);
    QCOMPARE(c->FrameCount(), 4);
    QVERIFY2(!c->Playing(), "a new character starts still");
    QCOMPARE(lib.entries(), QStringList({"персонаж (Кот идёт) индекс > 1"}));
    QVERIFY(m.Command5->isEnabled() && m.Command6->isEnabled() && m.Command7->isEnabled());
    QCOMPARE(lib.p.state.SelectedIndex, qint16(0));
    QVERIFY2(m.List1->selectedItems().isEmpty(), "the new entry is not selected");
    QVERIFY(m.AniGIF1.at(0)->isHidden());

    QVERIFY(choose(lib.p, "person", "DOG.GIF"));
    QCOMPARE(lib.entries().last(), QString("персонаж (DOG) индекс > 2"));
}

void TestPlacing::charactersAndPropsAreCountedApart()
{
    Library lib;
    for (int i = 0; i < 3; ++i)
        QVERIFY(choose(lib.p, "person", "cat.gif"));
    QVERIFY(choose(lib.p, "articles", "ball.gif"));
    QCOMPARE(lib.p.state.CharacterCount, qint16(3));
    QCOMPARE(lib.p.state.PropCount, qint16(1));
    QVERIFY(lib.m().Image1.exists(1));
    QCOMPARE(lib.entries(), QStringList({"персонаж (cat) индекс > 1", "персонаж (cat) индекс > 2",
                                         "персонаж (cat) индекс > 3", "предмет (ball) индекс > 1"}));
}

void TestPlacing::aPropTakesItsPicturesSizeAndDoesNotAnimate()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "articles", "flag.gif"));
    controls::ImageControl *prop = m.Image1.at(1);
    QVERIFY(prop && prop->isVisible());
    QCOMPARE(prop->objectName(), QString("Image1"));
    QCOMPARE(twips::geometry(prop), QRectF(360, 450, 150, 600));
    // The first frame of the GIF, and only that.
    QCOMPARE(centreColour(prop->picture()), testcommon::frameColour(0));
    QVERIFY(!m.Command6->isEnabled());
    QVERIFY2(!m.Command7->isEnabled(), "a prop enables no character button");
}

void TestPlacing::anUnreadableCharacterStillGetsItsElementAndEntry()
{
    Library lib;
    QVERIFY(choose(lib.p, "person", "broken.gif"));
    QVERIFY(lib.m().AniGIF1.exists(1));
    QCOMPARE(lib.m().AniGIF1.at(1)->FrameCount(), 0);
    QCOMPARE(lib.entries(), QStringList({"персонаж (broken) индекс > 1"}));
}

void TestPlacing::doubleClickChoosesTheCell()
{
    Library lib;
    frmFon *fon = openPicker(lib.p, "articles");
    // The press that starts a double-click comes first, as from a real mouse.
    QWidget *cell = fon->Image1.at(indexOf(fon, "ball.gif"));
    QTest::mouseClick(cell, Qt::LeftButton);
    QTest::mouseDClick(cell, Qt::LeftButton);
    QVERIFY(!fon->isVisible());
    QVERIFY(!fon->Shape1->isVisible());
    QCOMPARE(lib.entries(), QStringList({"предмет (ball) индекс > 1"}));
}

void TestPlacing::changingTheActionKeepsTheElementItsPlaceAndItsNumber()
{
    Library lib;
    frmMain &m = lib.m();
    for (int i = 0; i < 10; ++i)
        QVERIFY(choose(lib.p, "person", "cat.gif"));
    anigif::AniGif *tenth = m.AniGIF1.at(10);
    twips::move(tenth, 900, 600);
    lib.select(9);
    QCOMPARE(lib.p.state.SelectedIndex, qint16(10));

    QVERIFY(choose(lib.p, "changePerson", "DOG.GIF"));
    QCOMPARE(m.AniGIF1.at(10), tenth);
    QCOMPARE(tenth->FrameCount(), 3);
    QCOMPARE(twips::left(tenth), 900.0);
    QCOMPARE(twips::top(tenth), 600.0);
    QCOMPARE(m.List1->item(9)->text(), QString("персонаж (DOG) индекс > 10"));
    QCOMPARE(m.List1->count(), 10);
    QCOMPARE(lib.p.state.CharacterCount, qint16(10));
}

void TestPlacing::changingTheActionNeedsASelectedCharacterEntry()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "person", "cat.gif"));
    QVERIFY(choose(lib.p, "articles", "ball.gif"));

    // Nothing selected yet: the template must not take the file or show.
    QVERIFY(choose(lib.p, "changePerson", "DOG.GIF"));
    QVERIFY(m.AniGIF1.at(0)->isHidden());
    QCOMPARE(m.AniGIF1.at(0)->FrameCount(), 0);
    QCOMPARE(m.AniGIF1.at(1)->FrameCount(), 6);

    // A prop entry selected: neither the prop's entry nor character 1 changes.
    lib.select(1);
    QCOMPARE(lib.p.state.SelectedIndex, qint16(1));
    QVERIFY(choose(lib.p, "changePerson", "DOG.GIF"));
    QCOMPARE(lib.entries(), QStringList({"персонаж (cat) индекс > 1", "предмет (ball) индекс > 1"}));
    QCOMPARE(m.AniGIF1.at(1)->FrameCount(), 6);
}

void TestPlacing::anUnreadableActionKeepsTheOldOne()
{
    Library lib;
    frmMain &m = lib.m();
    QVERIFY(choose(lib.p, "person", "cat.gif"));
    lib.select(0);
    QVERIFY(choose(lib.p, "changePerson", "broken.gif"));
    QCOMPARE(m.AniGIF1.at(1)->FrameCount(), 6);
    QCOMPARE(lib.entries(), QStringList({"персонаж (cat) индекс > 1"}));
}

void TestPlacing::countersStopAtTheLastNumberInsteadOfWrapping()
{
    Library lib;
    frmMain &m = lib.m();
    lib.p.state.CharacterCount = 32766;
    lib.p.state.PropCount = 32767;
    QVERIFY(choose(lib.p, "person", "cat.gif"));
    QVERIFY(m.AniGIF1.exists(32767));
    QVERIFY(choose(lib.p, "person", "cat.gif"));
    QVERIFY(choose(lib.p, "articles", "ball.gif"));
    QCOMPARE(lib.p.state.CharacterCount, qint16(32767));
    QCOMPARE(lib.p.state.PropCount, qint16(32767));
    QCOMPARE(lib.entries(), QStringList({"персонаж (cat) индекс > 32767"}));
    QCOMPARE(m.AniGIF1.count(), 2);
}

QTEST_MAIN(TestPlacing)
#include "test_placing.moc"
