// Running and stepping the selected character's animation.
#include <QCheckBox>
#include <QLabel>

#include "app/frmMain.h"
#include "controls/Events.h"
#include "controls/NumberFormat.h"

namespace {
const QString Animate = QStringLiteral("Оживить");
const QString Stop = QStringLiteral("Остановить");
} // namespace

void frmMain::Command7_Click()
{
    anigif::AniGif *c = selectedCharacter();
    if (Command7->text() == Animate) {
        setAnimateCaption(true);
        if (c)
            c->setPlaying(true);
    } else {
        setAnimateCaption(false);
        if (c) {
            c->setPlaying(false);
            c->setCurrentFrame(0);
        }
    }
    FrameCounter = 0;
}

void frmMain::setAnimateCaption(bool playing)
{
    Command7->setText(playing ? Stop : Animate);
}

void frmMain::DoPicture()
{
    if (m_state.SelectedIndex == 0)
        return;
    ++FrameCounter;
    anigif::AniGif *c = selectedCharacter();
    // Wrap also when the counter ran past a character with fewer frames than
    // the one stepped before, so that it comes back into range.
    if (c && FrameCounter >= c->FrameCount())
        FrameCounter = 0;
    if (c)
        c->setCurrentFrame(FrameCounter);
    controls::doEvents();
    Label5->setText(numfmt::frame2(FrameCounter));
}

void frmMain::Command11_Click()
{
    DoPicture();
    if (Check2->isChecked())
        SaveBuffer();
}

void frmMain::AniGIF1_FrameChanged(int index)
{
    if (anigif::AniGif *c = AniGIF1.at(index))
        Label5->setText(numfmt::frame2(c->CurrentFrame()));
}
