// Opening the preview player.
#include "app/frmMain.h"
#include "preview/frmView.h"
#include "slides/frmBuffer.h"

void frmMain::Command8_Click()
{
    // Returns when the preview hides itself: "Закрыть", its close box, or an empty buffer.
    View()->exec();
}

frmView *frmMain::View()
{
    if (!m_view) {
        // Messages go through the program's seam as it stands when they are shown.
        auto message = [this](QWidget *parent, const controls::Message &m) { return m_state.message(parent, m); };
        m_view = new frmView(Buffer(), message, this);
    }
    return m_view;
}
