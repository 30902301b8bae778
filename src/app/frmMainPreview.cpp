// Opening the preview player.
#include <algorithm>

#include "app/frmMain.h"
#include "controls/SpinControl.h"
#include "export/SlideSounds.h"
#include "preview/frmView.h"
#include "slides/frmBuffer.h"

void frmMain::Command8_Click()
{
    // The slides' sounds start decoding now, if they are not yet, while the person reaches for "Старт".
    const slides::SlideStore &store = Buffer()->store();
    for (int i = 1; i <= store.count(); ++i)
        if (const slides::SlideSound s = store.sound(i))
            Buffer()->decodedSound(*s.clip);
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
        // The slides' sounds, mixed for the rate the preview plays at; none when no slide has one. Only sounds
        // already decoded (off this thread, by the buffer's cache) are heard: one still being decoded is left
        // out of this run rather than stalling the window, and is heard from the next start on.
        // The last mix is kept: a preview stopped and started again with the same sounds in the same places
        // (the common case) does not mix minutes of sound again.
        struct LastMix {
            exporting::SoundBed bed; // holds the decoded sounds, so that their addresses name them
            qint64 length = -1;
            std::shared_ptr<const sound::Pcm> mix;
        };
        m_view->soundForPreview = [this, last = std::make_shared<LastMix>()](int rate) -> std::shared_ptr<const sound::Pcm> {
            frmBuffer *buffer = Buffer();
            buffer->stopListening();
            const slides::SlideStore &store = buffer->store();
            exporting::SoundBed bed;
            exporting::placeDecodedSounds(store, rate, bed, [buffer](const slides::SoundClip &clip) {
                return buffer->decodedSound(clip);
            });
            if (bed.placed.empty())
                return nullptr;
            const qint64 length = exporting::soundLength(store, rate);
            const auto same = [](const exporting::SoundBed::At &a, const exporting::SoundBed::At &b) {
                return a.pcm == b.pcm && a.start == b.start && a.volume == b.volume;
            };
            if (length != last->length || !std::equal(bed.placed.begin(), bed.placed.end(), last->bed.placed.begin(),
                                                       last->bed.placed.end(), same)) {
                last->mix = bed.mix(length);
                last->length = length;
                last->bed = std::move(bed);
            }
            return last->mix;
        };
    }
    return m_view;
}
