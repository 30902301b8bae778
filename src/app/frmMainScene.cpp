// The object list: selecting an entry, deleting an object, deleting the background.
#include <QLabel>
#include <QListWidget>
#include <QSignalBlocker>

#include "app/frmMain.h"
#include "controls/Events.h"
#include "controls/NumberFormat.h"
#include "picker/ObjectEntry.h"

anigif::AniGif *frmMain::selectedCharacter() const
{
    if (SelectedIsProp)
        return nullptr;
    return AniGIF1.at(m_state.SelectedIndex);
}

void frmMain::List1_Click()
{
    const QListWidgetItem *item = List1->currentItem();
    if (item) {
        const QString text = item->text();
        if (const std::optional<qint16> n = picker::entryNumber(text)) {
            m_state.SelectedIndex = *n;
            SelectedIsProp = picker::entryKind(text) == picker::EntryKind::Prop;
        }
    }
    List1->setToolTip(QString::number(m_state.SelectedIndex));

    anigif::AniGif *c = selectedCharacter();
    setAnimateCaption(c && c->Playing());
    if (c)
        UpDown5->setValue(qRound(twips::left(c)));
    controls::doEvents();
    // The character may have gone while events ran.
    c = selectedCharacter();
    showCharacterX();
    // The spin control counts upwards, the stage downwards.
    if (c)
        UpDown6->setValue(-qRound(twips::top(c)));
    controls::doEvents();
    showCharacterY();
    controls::doEvents();
}

void frmMain::Command5_Click()
{
    QListWidgetItem *item = List1->currentItem();
    if (item && item->isSelected()) {
        const QString text = item->text();
        if (const std::optional<qint16> n = picker::entryNumber(text)) {
            switch (picker::entryKind(text)) {
            case picker::EntryKind::Character:
                AniGIF1.destroy(*n);
                break;
            case picker::EntryKind::Prop:
                Image1.destroy(*n);
                Captions.remove(*n);
                break;
            case picker::EntryKind::Unknown:
                break;
            }
        }
        // Removing the entry must not select its neighbour, which would count as a new selection.
        const QSignalBlocker quiet(List1);
        delete List1->takeItem(List1->row(item));
        List1->clearChoice();
    }
    if (AniGIF1.count() == 1) {
        Command6->setEnabled(false);
        Command7->setEnabled(false);
    }
}

void frmMain::Command9_Click()
{
    // A title card goes first, and the background it covered is back.
    if (m_titleCard) {
        removeTitleCard();
        return;
    }
    Picture3->setPicture(Picture7->picture());
    Command9->setEnabled(false);
}
