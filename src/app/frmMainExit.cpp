// The exit button and its warning about unsaved slides.
#include "app/frmMain.h"
#include "slides/frmBuffer.h"

void frmMain::Command14_Click()
{
    const int count = Buffer()->ImageCount();
    if (m_state.SlidesUnsaved && count > 1) {
        const controls::MsgResult answer =
            m_state.message(this, {QStringLiteral("Буфер не пустой, сохраните слайды."), QStringLiteral("Внимание..."),
                                   controls::MsgIcon::None, controls::MsgButtons::OkCancel});
        if (answer == controls::MsgResult::Ok)
            Buffer()->exec();
    }
    // The warning is no way back: whatever was answered or saved, the program ends.
    m_state.endProgram();
}
