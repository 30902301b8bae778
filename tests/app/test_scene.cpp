// The scene and its object list: entries and how they are read back,
// numbers never reused, selection filling the object controls, deletion.
#include <QLabel>
#include <QListWidget>
#include <QProxyStyle>
#include <QStandardPaths>
#include <QTest>

#include "../picker/PickerTestKit.h"
#include "controls/Twips.h"
#include "picker/ObjectEntry.h"
#include "picker/Placing.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

struct Scene {
    Program p;
    QString objects;
    QString articles;
    Scene()
    {
        objects = pickerkit::assetFolder(p, "objects");
        articles = pickerkit::assetFolder(p, "articles");
        testcommon::writeSimpleGif(objects, "x.gif", QSize(20, 20), 6);
        testcommon::writeSimpleGif(objects, "y.gif", QSize(20, 20), 6);
        pickerkit::colourGif(articles, "z.gif", QSize(10, 10), Qt::red);
    }
    frmMain &m() { return *p.main; }
    void character(const QString &file = "x.gif")
    {
        picker::placeAsset(m(), "person", objects, file);
    }
    void prop() { picker::placeAsset(m(), "articles", articles, "z.gif"); }
    QStringList entries() { return p.entries(); }
    void select(int row) { m().List1->setCurrentRow(row); }
    void deleteRow(int row)
    {
        select(row);
        m().Command5->click();
    }
    // The caption window answers `words`; `given` is the text it was opened with.
    QString given;
    void answerCaption(const QString &words)
    {
        m().askCaption = [this, words](QWidget *, text::Caption &c) { return given = std::exchange(c.lettering.text, words), true; };
    }
    // Where a control's middle is seen on the stage, in pixels of the viewport.
    QPointF seen(const QWidget *w)
    {
        return QPointF(w->mapTo(m().Picture7->client(), QPoint(0, 0))) + QPointF(w->width(), w->height()) / 2;
    }
};

} // namespace

class TestScene : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void entriesAreWrittenAndReadBackByKindAndNumber();
    void entriesThatAreNotOursGiveNoNumber();
    void listHoldsOneEntryPerObjectInOrderOfCreation();
    void numbersOfDeletedObjectsAreNeverHandedOutAgain();
    void selectingAnEntryAddressesItsNumberedCharacter();
    void selectionFillsTheSpinControlsAndLabels();
    void selectionShowsWhetherTheCharacterIsAnimating();
    void aSelectedPropLeavesEveryCharacterAlone();
    void beforeAnySelectionTheHiddenTemplateIsAddressed();
    void deletingTheLastCharacterDisablesTheCharacterButtons();
    void deletingSelectsNoOtherEntry();
    void deletingWithNothingSelectedDeletesNothing();
    void aDeletedCharacterIsNoLongerAddressed();
    void deletingTheBackgroundLeavesTheObjectsWhereTheyAre();
    void theChosenEntryStaysChosenWhateverTheUserPresses();
    void aCaptionIsPlacedEditedInPlaceAndDeletedAsAProp();
    void aTitleCardCoversTheBackgroundAndASlideEqualsTheStage();
};

void TestScene::entriesAreWrittenAndReadBackByKindAndNumber()
{
    QCOMPARE(picker::characterEntry("cat", 1), QString("персонаж (cat) индекс > 1"));
    QCOMPARE(picker::propEntry("Мяч большой", 12), QString("предмет (Мяч большой) индекс > 12"));
    QCOMPARE(picker::entryKind(picker::characterEntry("a", 3)), picker::EntryKind::Character);
    QCOMPARE(picker::entryKind(picker::propEntry("a", 3)), picker::EntryKind::Prop);
    QCOMPARE(picker::entryNumber(picker::characterEntry("a", 32767)), std::optional<qint16>(32767));
    // A name holding the marker itself still gives the number at the end.
    QCOMPARE(picker::entryNumber(picker::characterEntry("a) индекс > 5", 11)), std::optional<qint16>(11));
}

void TestScene::entriesThatAreNotOursGiveNoNumber()
{
    QCOMPARE(picker::entryKind("фон"), picker::EntryKind::Unknown);
    QVERIFY(!picker::entryNumber("персонаж (cat)"));
    QVERIFY(!picker::entryNumber("персонаж (cat) индекс > "));
    QVERIFY(!picker::entryNumber("персонаж (cat) индекс > 1a"));
    QVERIFY(!picker::entryNumber("персонаж (cat) индекс > -1"));
    QVERIFY(!picker::entryNumber("персонаж (cat) индекс > 40000"));
}

void TestScene::listHoldsOneEntryPerObjectInOrderOfCreation()
{
    Scene s;
    s.character("x.gif");
    s.character("y.gif");
    s.prop();
    QCOMPARE(s.entries(), QStringList({"персонаж (x) индекс > 1", "персонаж (y) индекс > 2",
                                       "предмет (z) индекс > 1"}));
    QVERIFY(s.m().AniGIF1.exists(1) && s.m().AniGIF1.exists(2) && s.m().Image1.exists(1));
}

void TestScene::numbersOfDeletedObjectsAreNeverHandedOutAgain()
{
    Scene s;
    s.character("x.gif");
    s.character("y.gif");
    s.prop();
    s.deleteRow(0);
    QVERIFY(!s.m().AniGIF1.exists(1));
    s.character("x.gif");
    QCOMPARE(s.entries(), QStringList({"персонаж (y) индекс > 2", "предмет (z) индекс > 1",
                                       "персонаж (x) индекс > 3"}));
    s.deleteRow(2);
    s.character("x.gif");
    QCOMPARE(s.entries().last(), QString("персонаж (x) индекс > 4"));
    QVERIFY(!s.m().AniGIF1.exists(3));
}

void TestScene::selectingAnEntryAddressesItsNumberedCharacter()
{
    Scene s;
    for (int i = 0; i < 11; ++i)
        s.character();
    QCOMPARE(s.entries().last(), QString("персонаж (x) индекс > 11"));
    s.select(10);
    QCOMPARE(s.p.state.SelectedIndex, qint16(11));
    QCOMPARE(s.m().List1->toolTip(), QString("11"));
    QCOMPARE(s.m().selectedCharacter(), s.m().AniGIF1.at(11));
}

void TestScene::selectionFillsTheSpinControlsAndLabels()
{
    Scene s;
    s.character();
    s.character();
    frmMain &m = s.m();
    twips::move(m.AniGIF1.at(1), 2160, 300);
    twips::move(m.AniGIF1.at(2), 90, 0);
    int recorded = 0;
    connect(m.UpDown5, &controls::SpinControl::Change, this, [&recorded] { ++recorded; });
    connect(m.UpDown6, &controls::SpinControl::Change, this, [&recorded] { ++recorded; });

    s.select(0);
    QCOMPARE(m.UpDown5->value(), 2160);
    QCOMPARE(m.UpDown6->value(), -300);
    QCOMPARE(m.Label4->text(), QString("2160"));
    QCOMPARE(m.Label1.at(6)->text(), QString("X = 2160"));
    QCOMPARE(m.Label9->text(), QString("Y = -0300"));

    s.select(1);
    QCOMPARE(m.Label4->text(), QString("0090"));
    QCOMPARE(m.Label1.at(6)->text(), QString("X = 0090"));
    QCOMPARE(m.Label9->text(), QString("Y = 0000"));
    QCOMPARE(recorded, 0);
    QCOMPARE(twips::left(m.AniGIF1.at(2)), 90.0);

    // Outside the spin control's range the value stays, and so do the labels.
    twips::move(m.AniGIF1.at(1), -6000, 300);
    s.select(0);
    QCOMPARE(m.UpDown5->value(), 90);
    QCOMPARE(m.Label4->text(), QString("0090"));
    QCOMPARE(m.Label9->text(), QString("Y = -0300"));
}

void TestScene::selectionShowsWhetherTheCharacterIsAnimating()
{
    Scene s;
    s.character();
    s.character();
    s.m().AniGIF1.at(2)->setPlaying(true);
    s.select(1);
    QCOMPARE(s.m().Command7->text(), QString("Остановить"));
    s.select(0);
    QCOMPARE(s.m().Command7->text(), QString("Оживить"));
}

void TestScene::aSelectedPropLeavesEveryCharacterAlone()
{
    Scene s;
    s.character();
    s.prop();
    frmMain &m = s.m();
    m.AniGIF1.at(1)->setPlaying(true);
    twips::move(m.AniGIF1.at(1), 1000, 200);
    s.select(1);
    QCOMPARE(s.p.state.SelectedIndex, qint16(1));
    QVERIFY2(!m.selectedCharacter(), "character 1 shares the prop's number but is not the selected object");
    QCOMPARE(m.Command7->text(), QString("Оживить"));
    QCOMPARE(m.UpDown5->value(), 2160);
    QCOMPARE(m.Label4->text(), QString("2160"));
    s.select(0);
    QCOMPARE(m.selectedCharacter(), m.AniGIF1.at(1));
    QCOMPARE(m.UpDown5->value(), 1000);
}

void TestScene::beforeAnySelectionTheHiddenTemplateIsAddressed()
{
    Scene s;
    s.character();
    QCOMPARE(s.p.state.SelectedIndex, qint16(0));
    QCOMPARE(s.m().selectedCharacter(), s.m().AniGIF1.at(0));
    QVERIFY(s.m().AniGIF1.at(0)->isHidden());
}

void TestScene::deletingTheLastCharacterDisablesTheCharacterButtons()
{
    Scene s;
    frmMain &m = s.m();
    s.character();
    s.prop();
    s.character();
    s.deleteRow(1);
    QVERIFY2(m.Command6->isEnabled() && m.Command7->isEnabled(), "characters remain");
    s.deleteRow(0);
    QVERIFY(m.Command6->isEnabled());
    s.deleteRow(0);
    QVERIFY(!m.Command6->isEnabled());
    QVERIFY(!m.Command7->isEnabled());
    QVERIFY(m.Command5->isEnabled());
    QCOMPARE(m.List1->count(), 0);
    QCOMPARE(m.AniGIF1.count(), 1);
    QCOMPARE(m.Image1.count(), 1);
}

void TestScene::deletingSelectsNoOtherEntry()
{
    Scene s;
    s.character();
    s.character();
    s.character();
    s.deleteRow(1);
    QVERIFY(s.m().List1->selectedItems().isEmpty());
    QCOMPARE(s.p.state.SelectedIndex, qint16(2));
    QCOMPARE(s.entries(), QStringList({"персонаж (x) индекс > 1", "персонаж (x) индекс > 3"}));
    // A second press with nothing selected takes nothing more away.
    s.m().Command5->click();
    QCOMPARE(s.m().List1->count(), 2);
}

void TestScene::deletingWithNothingSelectedDeletesNothing()
{
    Scene s;
    s.character();
    s.prop();
    s.m().Command5->click();
    QCOMPARE(s.m().List1->count(), 2);
    QVERIFY(s.m().AniGIF1.exists(1) && s.m().Image1.exists(1));
}

void TestScene::aDeletedCharacterIsNoLongerAddressed()
{
    Scene s;
    s.character();
    s.character();
    twips::move(s.m().AniGIF1.at(2), 500, 0);
    s.deleteRow(1);
    QCOMPARE(s.p.state.SelectedIndex, qint16(2));
    QVERIFY(!s.m().selectedCharacter());

    s.m().UpDown5->setValue(700);
    s.m().List1->addItem(picker::characterEntry("gone", 2));
    s.select(1);
    QCOMPARE(s.m().List1->toolTip(), QString("2"));
    QCOMPARE(s.m().Command7->text(), QString("Оживить"));
    QCOMPARE(s.m().Label4->text(), QString("0700"));
}

void TestScene::deletingTheBackgroundLeavesTheObjectsWhereTheyAre()
{
    Scene s;
    frmMain &m = s.m();
    s.character();
    s.prop();
    m.Command9->setEnabled(true);
    const QRectF stage = twips::geometry(m.Picture3);
    m.Command9->click();
    QVERIFY(m.Picture3->picture().isNull());
    QVERIFY(!m.Command9->isEnabled());
    QCOMPARE(twips::geometry(m.Picture3), stage);
    QCOMPARE(twips::left(m.AniGIF1.at(1)), 2160.0);
    QCOMPARE(twips::left(m.Image1.at(1)), 360.0);
    QCOMPARE(m.Picture3->client()->grab().toImage().pixelColor(5, 5), m.Picture3->backColor());
}

// A list box that lost its highlight left "Удалить объект" and "Сменить
// действие" doing nothing while the arrows still moved the old character.
void TestScene::theChosenEntryStaysChosenWhateverTheUserPresses()
{
    Scene s;
    frmMain &m = s.m();
    s.character();
    s.character();
    s.prop();
    QWidget *area = m.List1->viewport();
    const QPoint second = m.List1->visualItemRect(m.List1->item(1)).center();
    const QPoint belowTheEntries(area->width() / 2, area->height() - 5);
    QVERIFY(!m.List1->itemAt(belowTheEntries));
    auto chosen = [&] {
        const QList<QListWidgetItem *> items = m.List1->selectedItems();
        return items.size() == 1 ? m.List1->row(items.first()) : -items.size() - 1;
    };

    QTest::mouseClick(area, Qt::LeftButton, {}, belowTheEntries);
    QCOMPARE(chosen(), -1); // nothing was chosen yet, and a click on nothing chooses nothing

    QTest::mouseClick(area, Qt::LeftButton, {}, second);
    QCOMPARE(chosen(), 1);
    QCOMPARE(s.p.state.SelectedIndex, qint16(2));
    QTest::mouseClick(area, Qt::LeftButton, {}, belowTheEntries);
    QCOMPARE(chosen(), 1);
    QTest::mouseClick(area, Qt::LeftButton, Qt::ControlModifier, second);
    QCOMPARE(chosen(), 1);
    QTest::mouseClick(area, Qt::RightButton, {}, belowTheEntries);
    QCOMPARE(chosen(), 1);
    m.List1->setFocus();
    QTest::keyClick(m.List1, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(chosen(), 1);
    QTest::keyClick(m.List1, Qt::Key_Down);
    QCOMPARE(chosen(), 2);
    QTest::keyClick(m.List1, Qt::Key_Up);
    QCOMPARE(chosen(), 1);
    QCOMPARE(s.p.state.SelectedIndex, qint16(2));

    // The commands still act on the entry the user sees chosen.
    QTest::mouseClick(area, Qt::LeftButton, {}, belowTheEntries);
    m.Command5->click();
    QCOMPARE(s.entries(), QStringList({"персонаж (x) индекс > 1", "предмет (z) индекс > 1"}));
    QVERIFY(!m.AniGIF1.exists(2));
    QCOMPARE(chosen(), -1); // only the program's own clearing after a deletion leaves none
}

void TestScene::aCaptionIsPlacedEditedInPlaceAndDeletedAsAProp()
{
    // A desktop set to open things with one click; the list uses it below.
    struct OneClick : QProxyStyle {
        int styleHint(StyleHint hint, const QStyleOption *o, const QWidget *w, QStyleHintReturn *r) const override
        {
            return hint == SH_ItemView_ActivateItemOnSingleClick ? 1 : QProxyStyle::styleHint(hint, o, w, r);
        }
    } oneClick;
    Scene s;
    frmMain &m = s.m();
    s.prop();
    twips::move(m.Picture3, -600, -300);   // a panned background does not move the middle
    s.answerCaption("Ой!");
    m.mnuCaption->trigger();
    QCOMPARE(s.entries().value(1), "надпись (Ой!) индекс > 2");
    controls::ImageControl *c = m.Image1.at(2);
    QVERIFY((s.seen(c) - QPointF(198, 173)).manhattanLength() <= 1.5);
    // A double click opens it with its text; the centre, the number and the entry follow the edit.
    const QPointF centre = twips::geometry(c).center();
    s.answerCaption("Ой, какой длинный-предлинный день");
    emit c->DblClick();
    QCOMPARE(s.given, "Ой!");
    QVERIFY((twips::geometry(c).center() - centre).manhattanLength() <= 15);
    QVERIFY(s.entries()[1].startsWith("надпись (Ой, какой") && s.entries()[1].endsWith("индекс > 2"));
    // A click on its entry only chooses it, even where one click opens things; Enter opens it too, and
    // "Удалить объект" then takes it away with its text.
    m.List1->setStyle(&oneClick);
    s.given.clear();
    QTest::mouseClick(m.List1->viewport(), Qt::LeftButton, {}, m.List1->visualItemRect(m.List1->item(1)).center());
    QVERIFY(s.given.isEmpty());
    s.select(1);
    QTest::keyClick(m.List1, Qt::Key_Return);
    QCOMPARE(s.given, "Ой, какой длинный-предлинный день");
    m.Command5->click();
    QVERIFY(!m.Image1.at(2) && !m.Captions.contains(2));
    QCOMPARE(s.entries().size(), 1);
}

void TestScene::aTitleCardCoversTheBackgroundAndASlideEqualsTheStage()
{
    Scene s;
    frmMain &m = s.m();
    const QImage back = m.Picture3->picture();
    const QRectF place = twips::geometry(m.Picture3);
    s.answerCaption("Привет, мир!");
    m.Caption_Click();
    const QPointF before = s.seen(m.Image1.at(1));
    const text::TitleCard card;
    m.askTitleCard = [&card](QWidget *, text::TitleCard &c) { return c = card, true; };
    m.mnuTitle->trigger();
    QCOMPARE(m.Picture3->picture(), text::render(card, QSize(396, 346)));
    QCOMPARE(s.seen(m.Image1.at(1)), before);
    QVERIFY(m.SaveBuffer());
    const QImage grabbed = m.Picture7->client()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(m.Buffer()->slide(1).convertToFormat(QImage::Format_RGB32), grabbed);
    // "Удалить фон" gives back the background where it stood; the caption stays where it is seen.
    m.Command9->click();
    QCOMPARE(m.Picture3->picture(), back);
    QCOMPARE(twips::geometry(m.Picture3), place);
    QCOMPARE(s.seen(m.Image1.at(1)), before);
}

QTEST_MAIN(TestScene)
#include "test_scene.moc"
