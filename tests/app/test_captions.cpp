// Captions and title cards on the stage: placed, edited in place, deleted, a title card covering and giving
// back the background, and a slide that shows them exactly as the stage does.
#include <QListWidget>
#include <QStandardPaths>
#include <QTest>

#include "Program.h"
#include "controls/Twips.h"
#include "picker/ObjectEntry.h"
#include "project/SceneSnapshot.h"
#include "slides/frmBuffer.h"

using testcommon::Program;

namespace {

text::Caption bubble(const QString &words)
{
    text::Caption c;
    c.lettering.text = words;
    c.lettering.family = text::fonts().value(0);
    c.shape = text::Shape::Speech;
    c.fill = QColor(255, 230, 0);
    return c;
}

// Answers the caption window with `value` and counts the times it opened, keeping what it was given.
struct Answers {
    int asked = 0;
    text::Caption given;
    text::TitleCard givenCard;
    void install(Program &p, const text::Caption &value)
    {
        asked = 0;
        p.main->askCaption = [this, value](QWidget *, text::Caption &c) {
            ++asked;
            given = c;
            c = value;
            return true;
        };
    }
    void install(Program &p, const text::TitleCard &value)
    {
        asked = 0;
        p.main->askTitleCard = [this, value](QWidget *, text::TitleCard &c) {
            ++asked;
            givenCard = c;
            c = value;
            return true;
        };
    }
};

// Where a control's middle is seen on the stage, in pixels of the viewport.
QPointF seenCentre(Program &p, const QWidget *w)
{
    return QPointF(w->mapTo(p.main->Picture7->client(), QPoint(0, 0))) + QPointF(w->width(), w->height()) / 2.0;
}

text::TitleCard card(const QString &words, QColor top, QColor bottom)
{
    text::TitleCard c;
    c.lettering.text = words;
    c.lettering.family = text::fonts().value(0);
    c.top = top;
    c.bottom = bottom;
    return c;
}

} // namespace

class TestCaptions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void entriesOfCaptionsAreReadAsProps();
    void aCaptionComesInTheMiddleAndStaysWhereItIsWhenEdited();
    void aCaptionIsDeletedAsAPropIs();
    void aTitleCardCoversTheBackgroundUntilItIsRemoved();
    void aSlideShowsCaptionAndTitleCardAsTheStageDoes();
};

void TestCaptions::entriesOfCaptionsAreReadAsProps()
{
    const QString entry = picker::captionEntry(QStringLiteral("Жили-были дед и баба, и была у них курочка Ряба"), 7);
    QVERIFY(entry.startsWith(QStringLiteral("надпись (Жили-были")));
    QVERIFY(entry.endsWith(QStringLiteral("…) индекс > 7")));
    QCOMPARE(picker::entryKind(entry), picker::EntryKind::Prop);
    QCOMPARE(picker::entryNumber(entry), std::optional<qint16>(7));
    // Words holding the marker itself still give the number at the end.
    QCOMPARE(picker::entryNumber(picker::captionEntry(QStringLiteral(") индекс > 3"), 12)), std::optional<qint16>(12));
}

void TestCaptions::aCaptionComesInTheMiddleAndStaysWhereItIsWhenEdited()
{
    Program p;
    frmMain &m = *p.main;
    Answers a;
    // Numbers follow the props already handed out, and the panned background does not move the middle.
    p.state.PropCount = 4;
    twips::move(m.Picture3, -600, -300);
    a.install(p, bubble(QStringLiteral("Ой!")));
    m.mnuCaption->trigger();
    QCOMPARE(p.entries(), QStringList{QStringLiteral("надпись (Ой!) индекс > 5")});
    controls::ImageControl *c = m.Image1.at(5);
    QVERIFY(c && c->isVisible());
    const QPointF middle(198, 173);
    QVERIFY((seenCentre(p, c) - middle).manhattanLength() <= 1.5);
    QVERIFY(m.AniGIF2->isHidden());

    // Dragged, then opened by a double click and by Enter on its entry: the window gets its values, the
    // centre stays, the number stays and the entry follows the text.
    twips::move(c, twips::left(c) + 450, twips::top(c) + 300);
    const QPointF moved = twips::geometry(c).center();
    a.install(p, bubble(QStringLiteral("Ой, какой длинный-предлинный день сегодня")));
    emit c->DblClick();
    QCOMPARE(a.asked, 1);
    QCOMPARE(a.given.lettering.text, QStringLiteral("Ой!"));
    QCOMPARE(m.Image1.at(5), c);
    QVERIFY((twips::geometry(c).center() - moved).manhattanLength() <= 15);
    QCOMPARE(c->picture().size(), text::render(m.Captions.value(5)).size());
    QVERIFY(p.entries().value(0).startsWith(QStringLiteral("надпись (Ой, какой")));
    QVERIFY(p.entries().value(0).endsWith(QStringLiteral(") индекс > 5")));
    QCOMPARE(p.state.PropCount, qint16(5));

    m.List1->setCurrentRow(0);
    m.List1->setFocus();
    QTest::keyClick(m.List1, Qt::Key_Return);
    QCOMPARE(a.asked, 2);
    QVERIFY(a.given.lettering.text.startsWith(QStringLiteral("Ой, какой")));

    // "Отмена" leaves it alone.
    const QImage kept = c->picture();
    m.askCaption = [](QWidget *, text::Caption &c) {
        c.lettering.text = QStringLiteral("не то");
        return false;
    };
    QVERIFY(!m.editCaption(5));
    QCOMPARE(c->picture(), kept);
    QVERIFY(m.Captions.value(5).lettering.text.startsWith(QStringLiteral("Ой, какой")));
}

void TestCaptions::aCaptionIsDeletedAsAPropIs()
{
    Program p;
    frmMain &m = *p.main;
    Answers a;
    a.install(p, bubble(QStringLiteral("Раз")));
    m.Caption_Click();
    a.install(p, bubble(QStringLiteral("Два")));
    m.Caption_Click();
    m.List1->setCurrentRow(0);
    QVERIFY(m.SelectedIsProp);
    QVERIFY(!m.selectedCharacter());
    m.Command5_Click();
    QVERIFY(!m.Image1.at(1));
    QVERIFY(!m.Captions.contains(1));
    QCOMPARE(p.entries(), QStringList{QStringLiteral("надпись (Два) индекс > 2")});
    const project::SceneSnapshot s = project::takeSnapshot(m);
    QCOMPARE(s.objects.size(), 1);
    QCOMPARE(s.objects[0].kind, project::StageObject::Kind::Caption);
    QCOMPARE(text::decodeCaption(s.objects[0].caption), std::optional<text::Caption>(bubble(QStringLiteral("Два"))));
    QVERIFY(s.objects[0].picture.isEmpty());
}

void TestCaptions::aTitleCardCoversTheBackgroundUntilItIsRemoved()
{
    Program p;
    frmMain &m = *p.main;
    Answers a;
    QImage back(600, 500, QImage::Format_RGB32);
    back.fill(Qt::red);
    m.Picture3->setPicture(back, "red");
    m.UpDown3->setRange(-200, 0);
    m.UpDown3->setValue(-150);
    m.Command9->setEnabled(true);
    a.install(p, bubble(QStringLiteral("Привет")));
    m.Caption_Click();
    const QPointF seen = seenCentre(p, m.Image1.at(1));
    const QRectF geometry = twips::geometry(m.Picture3);

    const text::TitleCard first = card(QStringLiteral("Начало"), Qt::blue, Qt::blue);
    a.install(p, first);
    m.mnuTitle->trigger();
    QCOMPARE(m.Picture3->picture(), text::render(first, QSize(396, 346)));
    QCOMPARE(m.Picture3->client()->mapTo(m.Picture7->client(), QPoint(0, 0)), QPoint(0, 0));
    QCOMPARE(seenCentre(p, m.Image1.at(1)), seen);
    QCOMPARE(m.UpDown3->maximum() - m.UpDown3->minimum(), 0);
    QVERIFY(m.Command9->isEnabled());
    // "Титр…" again edits the card on show.
    const text::TitleCard second = card(QStringLiteral("Конец"), Qt::black, Qt::darkGreen);
    a.install(p, second);
    m.Title_Click();
    QCOMPARE(a.givenCard, first);
    QCOMPARE(m.Picture3->picture(), text::render(second, QSize(396, 346)));

    m.Command9_Click();
    QVERIFY(!m.titleCard());
    QCOMPARE(m.Picture3->picture(), back);
    QCOMPARE(m.Picture3->source(), QByteArray("red"));
    QCOMPARE(twips::geometry(m.Picture3), geometry);
    QCOMPARE(m.UpDown3->minimum(), -200);
    QCOMPARE(m.UpDown3->value(), -150);
    QCOMPARE(seenCentre(p, m.Image1.at(1)), seen);
    QVERIFY(m.Command9->isEnabled());
    // Then the background itself goes, as it always did.
    m.Command9_Click();
    QVERIFY(!m.Command9->isEnabled());
}

void TestCaptions::aSlideShowsCaptionAndTitleCardAsTheStageDoes()
{
    Program p;
    frmMain &m = *p.main;
    Answers a;
    a.install(p, card(QStringLiteral("Глава 1"), QColor(20, 40, 160), QColor(200, 120, 40)));
    m.Title_Click();
    a.install(p, bubble(QStringLiteral("Привет, мир!")));
    m.Caption_Click();
    QVERIFY(m.SaveBuffer());
    QCoreApplication::processEvents();
    const QImage slide = m.Buffer()->slide(1).convertToFormat(QImage::Format_RGB32);
    const QImage grabbed = m.Picture7->client()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(slide.size(), QSize(396, 346));
    QCOMPARE(slide, grabbed);
    // The bubble's fill is in it, over the card.
    int filled = 0;
    for (int y = 0; y < slide.height(); ++y)
        for (int x = 0; x < slide.width(); ++x)
            filled += slide.pixel(x, y) == QColor(255, 230, 0).rgb();
    QVERIFY(filled > 100);
}

QTEST_MAIN(TestCaptions)
#include "test_captions.moc"
