// Recording slides and the slide commands of the main window.
#include <QLabel>

#include "app/frmMain.h"
#include "controls/Events.h"
#include "controls/NumberFormat.h"
#include "controls/Twips.h"
#include "slides/StageCapture.h"
#include "slides/frmBuffer.h"

bool frmMain::SaveBuffer()
{
    // The capture box's drawing surface is the slide's size: 396 x 346 inside a 1-pixel border.
    twips::resize(Picture4, twips::fromPixels(398), twips::fromPixels(348));
    // The stage must show its latest state before it is drawn into the slide.
    controls::doEvents();
    const QImage shot = slides::captureStage(Picture7->client());
    Picture4->setPicture(shot);

    ++SlideCount;
    // Appending lets pending events run, and a click on "Очистка" may come through there: the count is
    // raised first so that it still agrees with the buffer afterwards.
    if (!Buffer()->append(shot)) {
        // The slides already held stay as they were; the count only moves with a stored slide.
        --SlideCount;
        m_state.message(this, {QStringLiteral("Не удалось сохранить слайд: недостаточно памяти."), QString(),
                               controls::MsgIcon::Error, controls::MsgButtons::Ok});
        return false;
    }
    Label3.at(1)->setText(numfmt::count3(SlideCount));
    Command1->setEnabled(true);
    if (SlideCount > 1)
        Command8->setEnabled(true);
    return true;
}

void frmMain::Command2_Click()
{
    // A recording that could not be stored leaves nothing new to warn about.
    if (SaveBuffer())
        m_state.SlidesUnsaved = true;
}

void frmMain::Command15_Click()
{
    Buffer()->exec();
}

void frmMain::Command1_Click()
{
    Buffer()->clear();
    Label3.at(1)->setText(QStringLiteral("000"));
    Command1->setEnabled(false);
    Command8->setEnabled(false);
    SlideCount = 0;
}

frmBuffer *frmMain::Buffer()
{
    if (!m_buffer) {
        m_buffer = new frmBuffer(m_state, this);
        connect(m_buffer, &frmBuffer::slidesChanged, this, &frmMain::showOnionSkin);
    }
    return m_buffer;
}
