#pragma once
// The preview player: plays the recorded slides one after the other at 1 to
// 24 slides per second and jumps to any slide with the slider. It only reads
// the slides. The window is hidden, never destroyed, by its own buttons, so
// its position and rate survive from one opening to the next.

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

#include "controls/Messages.h"
#include "preview/Playback.h"
#include "sound/Player.h"

class QLabel;
class QSlider;

namespace controls {
class Button;
class PictureBox;
class SpinControl;
} // namespace controls

namespace slides {
class SlideSource;
}

class frmView : public QDialog {
    Q_OBJECT
public:
    frmView(slides::SlideSource *source, controls::MessageFn message, QWidget *parent = nullptr);
    ~frmView() override;

    controls::PictureBox *Picture1;  // slide display, drawn at the slide's own size and clipped
    controls::Button *Command3;      // "Command3", disabled: the raised frame around Picture1
    controls::SpinControl *UpDown1;  // rate in slides per second, 1 to 24 in steps of 4
    controls::Button *Command2;      // "Старт" / "Стоп"
    controls::Button *Command1;      // "Закрыть"
    QSlider *Slider1;                // position: 0 = blank, 1..N the slides
    QLabel *Label2;                  // "Кадров в секунду"
    QLabel *Label1;                  // the value of UpDown1

    // ---- Window-level state ----
    int PlayPosition = 0;        // the slide shown last; 0 = none
    bool StopRequested = false;  // ends a running playback once its current slide is done

    void Form_Activate();   // sets up the slider each time the window is shown or becomes active
    void Command2_Click();  // "Старт" / "Стоп"
    void Slider1_Scroll();  // the user moved the slider
    void Command1_Click();  // "Закрыть"

    // A slide's cycle is under way: between the start and the end of the
    // pause of the slide in progress.
    bool playing() const { return m_playing; }

    // The sound of the whole cartoon mixed for a rate in slides per second (its frame 0 is heard with
    // slide 1, and it is exactly as long as the cartoon, so that its loop keeps in step with the slides'),
    // or nothing when the cartoon has no sound. Asked at each start and at each change of rate.
    std::function<std::shared_ptr<const sound::Pcm>(int rate)> soundForPreview;
    // Whether the slides are being shown against the sound heard rather than the clock.
    bool playingSound() const { return m_sound.playing(); }
    const sound::Player &soundPlayer() const { return m_sound; }

    // The close box and Escape end the playback as "Закрыть" does.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void buildLayout();
    void showSlide(int position);
    void playSlide();   // steps 1 to 5 of one slide
    void afterPause();  // steps 6 and 7, then the test of StopRequested
    void endPlayback();
    void scheduleActivate();
    void startSound(int slide);
    void waitForSound();
    qint64 framesBefore(int slide) const;

    slides::SlideSource *m_source;
    controls::MessageFn m_message;
    QTimer m_pause;
    QElapsedTimer m_clock;
    preview::FrameSchedule m_schedule;
    bool m_playing = false;
    bool m_activatePending = false;
    bool m_activating = false;

    // Playing with sound: the slide that starts each pause is shown when the mix reaches it.
    sound::Player m_sound;
    QTimer m_soundWait;
    int m_soundRate = 0;
    int m_soundSlide = 0;        // the slide shown last against the sound
    qint64 m_soundBase = 0;      // the cartoon frame at which the sound was started
    qint64 m_soundNext = 0;      // the cartoon frame (counted on through the loops) of the next slide
    bool m_toldNoSound = false;  // the missing sound output is told once
};
