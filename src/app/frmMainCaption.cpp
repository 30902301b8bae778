// Captions and title cards on the stage. A caption is a prop whose picture is drawn from its text and style,
// so it is selected, dragged and deleted as every prop is; a title card takes the background's place and
// keeps the background it covers until "Удалить фон" brings it back.
#include <QListWidget>
#include <QSignalBlocker>

#include "app/frmMain.h"
#include "controls/Twips.h"
#include "picker/ObjectEntry.h"
#include "project/Document.h"

namespace {

constexpr qint16 LastNumber = 32767;

// The list entry that names element `index`, or nullptr.
QListWidgetItem *entryOf(QListWidget *list, int index)
{
    for (int i = 0; i < list->count(); ++i) {
        const QString text = list->item(i)->text();
        if (picker::entryKind(text) == picker::EntryKind::Prop && picker::entryNumber(text) == qint16(index))
            return list->item(i);
    }
    return nullptr;
}

// What the stage shows, in pixels: from the stage's own place, which holds before the window is first shown
// and its boxes are laid out (a recovered scene is rebuilt then).
QSize stageSize(const controls::PictureBox *stage)
{
    const int border = 2 * stage->borderWidth();
    return {twips::toPixels(twips::width(stage)) - border, twips::toPixels(twips::height(stage)) - border};
}

} // namespace

void frmMain::buildCaptions()
{
    askCaption = [this](QWidget *parent, text::Caption &caption) {
        return text::editCaption(parent, m_state.message, caption);
    };
    askTitleCard = [this](QWidget *parent, text::TitleCard &card) {
        return text::editTitleCard(parent, m_state.message, card, stageSize(Picture7));
    };
    // A double click on a caption or Enter on its entry opens it again.
    connect(List1, &controls::ListBox::entered, this, [this](QListWidgetItem *item) {
        if (picker::entryKind(item->text()) != picker::EntryKind::Prop)
            return;
        if (const std::optional<qint16> n = picker::entryNumber(item->text()); n && Captions.contains(*n))
            editCaption(*n);
    });
}

controls::ImageControl *frmMain::makeCaption(int index, const text::Caption &caption)
{
    controls::ImageControl *p = Image1.create(index);
    if (!p)
        return nullptr;
    p->setPicture(text::render(caption));
    Captions.insert(index, caption);
    connectProp(index);
    return p;
}

void frmMain::Caption_Click()
{
    if (m_state.PropCount >= LastNumber)
        return;
    text::Caption caption;
    caption.lettering.family = text::fonts().value(0);
    if (!askCaption(this, caption))
        return;
    AniGIF2->setPlaying(false);
    AniGIF2->setVisible(false);
    const qint16 n = ++m_state.PropCount;
    controls::ImageControl *p = makeCaption(n, caption);
    if (p) {
        // Its middle on the middle of what the stage shows, wherever the background has been panned to.
        const QSize view = stageSize(Picture7);
        const double inside = twips::fromPixels(Picture3->borderWidth());
        const QPointF centre = QPointF(twips::fromPixels(view.width()), twips::fromPixels(view.height())) / 2.0 -
                               twips::geometry(Picture3).topLeft() - QPointF(inside, inside);
        twips::move(p, centre.x() - twips::width(p) / 2, centre.y() - twips::height(p) / 2);
        p->raise();
        p->show();
    }
    List1->addItem(picker::captionEntry(caption.lettering.text, n));
    m_document->checkScene();
}

bool frmMain::editCaption(int index)
{
    controls::ImageControl *p = Image1.at(index);
    if (!p || !Captions.contains(index))
        return false;
    text::Caption caption = Captions.value(index);
    if (!askCaption(this, caption))
        return false;
    // The same centre: a longer text grows to both sides, as it reads from where it stood.
    const QPointF centre = twips::geometry(p).center();
    p->setPicture(text::render(caption));
    twips::move(p, centre.x() - twips::width(p) / 2, centre.y() - twips::height(p) / 2);
    Captions.insert(index, caption);
    if (QListWidgetItem *entry = entryOf(List1, index)) {
        // Renaming the entry is no new choice.
        const QSignalBlocker quiet(List1);
        entry->setText(picker::captionEntry(caption.lettering.text, index));
    }
    m_document->checkScene();
    return true;
}

void frmMain::Title_Click()
{
    text::TitleCard card = m_titleCard.value_or(text::TitleCard());
    if (!m_titleCard) {
        // Large light letters, which read on the card's dark blue at first sight.
        card.lettering.family = text::fonts().value(0);
        card.lettering.colour = Qt::white;
        card.lettering.size = 40;
    }
    if (!askTitleCard(this, card))
        return;
    AniGIF2->setPlaying(false);
    AniGIF2->setVisible(false);
    showTitleCard(card);
    m_document->checkScene();
}

void frmMain::shiftScene(QPointF by)
{
    for (QObject *child : Picture3->client()->children()) {
        // The scene's objects only: the templates say where new ones appear, as they always have.
        auto *w = qobject_cast<QWidget *>(child);
        if (w && w->property("index").toInt() > 0)
            twips::move(w, twips::left(w) + by.x(), twips::top(w) + by.y());
    }
}

void frmMain::showTitleCard(const text::TitleCard &card)
{
    const QSize stage = stageSize(Picture7);
    if (!m_titleCard) {
        m_covered = {Picture3->picture(), Picture3->source(), twips::geometry(Picture3),
                     UpDown3->minimum(), UpDown3->maximum(), UpDown3->value(),
                     UpDown4->minimum(), UpDown4->maximum(), UpDown4->value(),
                     Command9->isEnabled()};
        // The card fills exactly what the stage shows; the objects keep their places on the stage.
        const QPointF at(-twips::fromPixels(Picture3->borderWidth()), -twips::fromPixels(Picture3->borderWidth()));
        shiftScene(twips::geometry(Picture3).topLeft() - at);
        twips::move(Picture3, at.x(), at.y());
        // The card does not pan.
        for (controls::SpinControl *spin : {UpDown3, UpDown4}) {
            const QSignalBlocker quiet(spin);
            spin->setRange(0, 0);
            spin->setValue(0);
        }
    }
    m_titleCard = card;
    Picture3->setPicture(text::render(card, stage));
    Command9->setEnabled(true);
}

void frmMain::removeTitleCard()
{
    if (!m_titleCard)
        return;
    m_titleCard.reset();
    shiftScene(twips::geometry(Picture3).topLeft() - m_covered.geometry.topLeft());
    Picture3->setPicture(m_covered.picture, m_covered.source);
    twips::setGeometry(Picture3, m_covered.geometry);
    const QSignalBlocker quietX(UpDown3), quietY(UpDown4);
    UpDown3->setRange(m_covered.xMin, m_covered.xMax);
    UpDown3->setValue(m_covered.x);
    UpDown4->setRange(m_covered.yMin, m_covered.yMax);
    UpDown4->setValue(m_covered.y);
    Command9->setEnabled(m_covered.removable);
    m_covered = {};
}
