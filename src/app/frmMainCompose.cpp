// Composing by eye: the onion skin over the stage and the record key.
#include <QCheckBox>
#include <QShortcut>

#include "app/frmMain.h"
#include "slides/OnionSkin.h"
#include "slides/frmBuffer.h"

void frmMain::buildComposing()
{
    // A sibling of the stage's drawing surface, lying over it: the capture draws that surface and what it
    // holds, so the overlay cannot reach a slide. Nothing is ever added to the stage box itself after this,
    // so it stays on top.
    OnionSkin = new slides::OnionSkin(Picture7->client(), Picture7);
    OnionSkin->hide();
    OnionSkin->raise();

    // A function key, so it means the same under every keyboard layout; a window shortcut, so the focused
    // control never sees the key and is never pressed by it. Each repeat of a held key records a slide.
    RecordKey = new QShortcut(QKeySequence(RecordKeyCode), this);
    RecordKey->setObjectName(QStringLiteral("RecordKey"));
    RecordKey->setContext(Qt::WindowShortcut);
    RecordKey->setAutoRepeat(true);
    connect(RecordKey, &QShortcut::activated, this, &frmMain::Command2_Click);
    Command2->setToolTip(QStringLiteral("Записать то, что сейчас видно на сцене,\nв новый слайд (клавиша %1)")
                             .arg(QKeySequence(RecordKeyCode).toString(QKeySequence::NativeText)));

    connect(Check3, &QCheckBox::toggled, this, &frmMain::Check3_Click);
}

void frmMain::Check3_Click()
{
    showOnionSkin();
}

void frmMain::showOnionSkin()
{
    // Cleared, the overlay lets go of its picture, and later recordings cost it nothing.
    if (!Check3->isChecked()) {
        OnionSkin->hide();
        OnionSkin->setSlide(QImage());
        return;
    }
    // The buffer is not made just to learn that it is empty.
    const QImage last = m_buffer ? m_buffer->lastSlide() : QImage();
    // A recording hands the buffer the very picture it keeps in the capture box; any other change to the
    // slides leaves a slide read back from the store.
    const bool justRecorded = !last.isNull() && last.cacheKey() == Picture4->picture().cacheKey();
    OnionSkin->setSlide(last, justRecorded);
    OnionSkin->setVisible(OnionSkin->hasSlide());
}
