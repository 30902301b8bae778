#include "project/SceneSnapshot.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

#include "anigif/GifDecoder.h"
#include "app/frmMain.h"
#include "controls/Twips.h"
#include "text/Caption.h"

namespace project {

namespace {

// A lossless copy of a picture whose file is not known (the program's own start-up background).
QByteArray pictureBytes(const QImage &picture, const QByteArray &source)
{
    if (!source.isEmpty() || picture.isNull())
        return source;
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    picture.save(&out, "PNG");
    return png;
}

SpinState spinState(const controls::SpinControl *spin)
{
    return {spin->minimum(), spin->maximum(), spin->value()};
}

void setSpin(controls::SpinControl *spin, const SpinState &s)
{
    // Setting the value must not run the handlers that move, step or record.
    const QSignalBlocker quiet(spin);
    spin->setRange(s.minimum, s.maximum);
    spin->setValue(s.value);
}

// The labels the scene writes into, in the order of SceneSnapshot::captions.
QList<QLabel *> captionLabels(frmMain &m)
{
    return {m.Label2, m.Label4, m.Label5, m.Label9, m.Label1.at(6), m.Label3.at(0), m.Label3.at(2)};
}

} // namespace

QList<QByteArray> SceneSnapshot::pictures() const
{
    QList<QByteArray> out{background};
    for (const StageObject &o : objects)
        out << o.picture;
    return out;
}

SceneSnapshot takeSnapshot(frmMain &m)
{
    SceneSnapshot s;
    if (const std::optional<text::TitleCard> &card = m.titleCard()) {
        const frmMain::CoveredBackground &c = m.coveredBackground();
        s.titleCard = text::encode(*card);
        s.background = pictureBytes(c.picture, c.source);
        s.backgroundGeometry = c.geometry;
        s.backgroundX = {c.xMin, c.xMax, c.x};
        s.backgroundY = {c.yMin, c.yMax, c.y};
        s.backgroundRemovable = c.removable;
    } else {
        s.background = pictureBytes(m.Picture3->picture(), m.Picture3->source());
        s.backgroundGeometry = twips::geometry(m.Picture3);
        s.backgroundX = spinState(m.UpDown3);
        s.backgroundY = spinState(m.UpDown4);
        s.backgroundRemovable = m.Command9->isEnabled();
    }
    s.startAnimation = !m.AniGIF2->isHidden();
    if (const anigif::AniGif *t = m.AniGIF1.at(0)) {
        s.characterPlace = twips::geometry(t);
        s.characterAutoSize = t->AutoSize();
        s.characterSizeMode = t->SizeMode();
    }

    // The background's children in their stacking order, bottom first; the templates are not part of the scene.
    for (QObject *child : m.Picture3->client()->children()) {
        auto *w = qobject_cast<QWidget *>(child);
        if (!w)
            continue;
        const int n = w->property("index").toInt();
        if (n <= 0)
            continue;
        StageObject o;
        o.number = n;
        o.geometry = twips::geometry(w);
        o.visible = !w->isHidden();
        if (anigif::AniGif *c = m.AniGIF1.at(n); c && c == w) {
            o.kind = StageObject::Kind::Character;
            o.picture = c->sourceData();
            o.frame = c->CurrentFrame();
            o.playing = c->Playing();
            o.autoSize = c->AutoSize();
            o.sizeMode = c->SizeMode();
        } else if (controls::ImageControl *p = m.Image1.at(n); p && p == w) {
            if (m.Captions.contains(n)) {
                o.kind = StageObject::Kind::Caption;
                o.caption = text::encode(m.Captions.value(n));
            } else {
                o.kind = StageObject::Kind::Prop;
                o.picture = pictureBytes(p->picture(), p->source());
            }
        } else {
            continue;
        }
        s.objects << o;
    }

    for (int i = 0; i < m.List1->count(); ++i)
        s.entries << m.List1->item(i)->text();
    s.currentRow = m.List1->currentRow();
    s.entrySelected = m.List1->currentItem() && m.List1->currentItem()->isSelected();
    const AppState &state = m.state();
    s.selectedIndex = state.SelectedIndex;
    s.selectedIsProp = m.SelectedIsProp;
    s.characterCount = state.CharacterCount;
    s.propCount = state.PropCount;

    s.characterX = spinState(m.UpDown5);
    s.characterY = spinState(m.UpDown6);
    s.frameCounter = m.FrameCounter;
    s.animateCaption = m.Command7->text();
    s.deleteEnabled = m.Command5->isEnabled();
    s.changeActionEnabled = m.Command6->isEnabled();
    s.animateEnabled = m.Command7->isEnabled();
    for (const QLabel *l : captionLabels(m))
        s.captions << (l ? l->text() : QString());

    s.step = m.Combo1->currentText().toInt();
    s.syncFrame = m.Check1->isChecked();
    s.syncRecord = m.Check2->isChecked();
    s.onionSkin = m.Check3->isChecked();
    s.previewRate = state.PreviewRate;
    return s;
}

void applySnapshot(frmMain &m, const SceneSnapshot &s)
{
    for (int n : m.AniGIF1.indices())
        m.AniGIF1.destroy(n);
    for (int n : m.Image1.indices())
        m.Image1.destroy(n);
    m.Captions.clear();

    m.forgetTitleCard();
    m.Picture3->setPicture(QImage::fromData(s.background), s.background);
    twips::setGeometry(m.Picture3, s.backgroundGeometry);
    setSpin(m.UpDown3, s.backgroundX);
    setSpin(m.UpDown4, s.backgroundY);
    m.Command9->setEnabled(s.backgroundRemovable);
    // Before the objects are made: they come back where they were seen over the card.
    if (!s.titleCard.isEmpty())
        if (const std::optional<text::TitleCard> card = text::decodeTitleCard(s.titleCard))
            m.showTitleCard(*card);
    m.AniGIF2->setPlaying(s.startAnimation);
    m.AniGIF2->setVisible(s.startAnimation);
    if (anigif::AniGif *t = m.AniGIF1.at(0)) {
        t->setAutoSize(s.characterAutoSize);
        t->setSizeMode(s.characterSizeMode);
        twips::setGeometry(t, s.characterPlace);
    }

    for (const StageObject &o : s.objects) {
        QWidget *made = nullptr;
        if (o.kind == StageObject::Kind::Character) {
            anigif::AniGif *c = m.AniGIF1.create(o.number);
            if (!c)
                continue;
            // Bytes that are no GIF give the empty character they gave when it was placed.
            anigif::DecodedGif gif;
            if (!anigif::decodeGif(o.picture, &gif))
                gif = anigif::DecodedGif();
            gif.source = o.picture;
            c->setAutoSize(o.autoSize);
            c->setSizeMode(o.sizeMode);
            c->setGif(std::move(gif));
            c->setCurrentFrame(o.frame);
            c->setPlaying(o.playing);
            m.connectCharacter(o.number);
            made = c;
        } else if (o.kind == StageObject::Kind::Caption) {
            // A kept form this program cannot read any more leaves an empty caption rather than a hole.
            made = m.makeCaption(o.number, text::decodeCaption(o.caption).value_or(text::Caption()));
            if (!made)
                continue;
        } else {
            controls::ImageControl *p = m.Image1.create(o.number);
            if (!p)
                continue;
            p->setPicture(QImage::fromData(o.picture), o.picture);
            m.connectProp(o.number);
            made = p;
        }
        twips::setGeometry(made, o.geometry);
        made->setVisible(o.visible);
        // Each is made on top of the one before: the stacking order comes back.
        made->raise();
    }

    {
        const QSignalBlocker quiet(m.List1);
        m.List1->clear();
        m.List1->addItems(s.entries);
        if (s.currentRow >= 0 && s.currentRow < m.List1->count()) {
            m.List1->setCurrentRow(s.currentRow);
            m.List1->currentItem()->setSelected(s.entrySelected);
        }
    }
    AppState &state = m.state();
    state.SelectedIndex = s.selectedIndex;
    m.SelectedIsProp = s.selectedIsProp;
    state.CharacterCount = s.characterCount;
    state.PropCount = s.propCount;
    m.List1->setToolTip(QString::number(s.selectedIndex));

    setSpin(m.UpDown5, s.characterX);
    setSpin(m.UpDown6, s.characterY);
    m.FrameCounter = s.frameCounter;
    m.Command7->setText(s.animateCaption);
    m.Command5->setEnabled(s.deleteEnabled);
    m.Command6->setEnabled(s.changeActionEnabled);
    m.Command7->setEnabled(s.animateEnabled);
    const QList<QLabel *> labels = captionLabels(m);
    for (int i = 0; i < labels.size() && i < s.captions.size(); ++i)
        if (labels[i])
            labels[i]->setText(s.captions[i]);

    m.Combo1->setCurrentText(QString::number(s.step));
    m.Combo1_Click();
    m.Check1->setChecked(s.syncFrame);
    m.Check2->setChecked(s.syncRecord);
    // Its handler shows or hides the overlay of the last slide.
    m.Check3->setChecked(s.onionSkin);
    state.PreviewRate = s.previewRate;
}

} // namespace project
