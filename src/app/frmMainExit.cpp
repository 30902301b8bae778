// The exit button and its warning about unsaved slides.
#include "app/frmMain.h"
#include "project/Document.h"
#include "slides/frmBuffer.h"

void frmMain::Command14_Click()
{
    // A named project with unsaved changes asks first; its save counts as a save of the slides.
    if (m_document && !m_document->mayLeave())
        return;
    // Unsaved slides mean the buffer exists already; nothing else needs it built on the way out.
    if (m_state.SlidesUnsaved && Buffer()->ImageCount() > 1) {
        const controls::MsgResult answer =
            m_state.message(this, {QStringLiteral("Буфер не пустой, сохраните слайды."), QStringLiteral("Внимание..."),
                                   controls::MsgIcon::None, controls::MsgButtons::OkCancel});
        if (answer == controls::MsgResult::Ok)
            Buffer()->exec();
    }
    // The warning is no way back: whatever was answered or saved, the program ends.
    endRun();
}

void frmMain::endRun()
{
    if (m_buffer)
        m_buffer->slides().ending();
    m_state.endProgram();
}
