// Opening the preview player.
#include "app/frmMain.h"
#include "controls/SpinControl.h"
#include "export/SlideSounds.h"
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
        // An export starts at the rate last chosen here.
        connect(m_view->UpDown1, &controls::SpinControl::Change, this, [this](int rate) { m_state.PreviewRate = rate; });
        // The slides' sounds, mixed for the rate the preview plays at; none when no slide has one (or one cannot
        // be decoded: the preview then plays as ever, without sound).
        m_view->soundForPreview = [this](int rate) -> std::shared_ptr<const sound::Pcm> {
            const slides::SlideStore &store = Buffer()->store();
            exporting::SoundBed bed;
            if (!exporting::addSlideSounds(store, rate, bed).isEmpty() || bed.placed.empty())
                return nullptr;
            return bed.mix(exporting::soundLength(store, rate));
        };
    }
    return m_view;
}
