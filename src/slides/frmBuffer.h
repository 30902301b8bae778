#pragma once
// The slide buffer " Буфер слайдов": the store of every recorded slide for
// the whole run, shown as thumbnails eight to a row on a black canvas that
// scrolls vertically. Created hidden at first reference and only ever
// hidden afterwards, however it is closed, so its slides survive.

#include <QDialog>
#include <QImage>
#include <QTimer>

#include <functional>
#include <set>

#include "app/AppState.h"
#include "slides/SlideBuffer.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"
#include "sound/Microphone.h"
#include "sound/PcmCache.h"
#include "sound/Player.h"

class QLabel;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QMenu;
class QScrollBar;
class frmBar;
namespace controls {
class Button;
class PictureBox;
}

namespace slides {
// "Длина: 120 кадров, 10,0 с": a cartoon of `frames` frame times at `rate` frames a second.
QString lengthText(qint64 frames, int rate);

// The canvas: paints only the thumbnails of the rows in view, so that ten
// thousand slides cost no more to show than eight. The chosen slides wear a
// bright frame.
class ThumbCanvas : public QWidget {
    Q_OBJECT
public:
    ThumbCanvas(const SlideBuffer &slides, const std::set<int> &chosen, QWidget *parent);

    // The slide whose thumbnail is at `pixel`; 0 when none is.
    int slideAt(QPoint pixel) const;

    // Where slides dropped at `pixel` would go: the number of the slide they would go before
    // (count() + 1: after the last), by the gap nearest to it.
    int gapAt(QPoint pixel) const;
    // While chosen slides are dragged: the slide they would go before; 0 when they would not move.
    int dropBefore() const { return m_dropBefore; }

signals:
    void pressed(int slide, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint globalPos);
    // Chosen slides were dragged and dropped on the strip, to go before slide `before`.
    void dropped(int before);
    // A sound file was dropped from outside on slide `slide`.
    void soundDropped(int slide, const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    const SlideBuffer &m_slides;
    const std::set<int> &m_chosen;
    int m_pressSlide = 0;      // a chosen slide the left button went down on, with no modifier
    bool m_deferred = false;   // it was chosen before: the press chooses it alone only if no drag follows
    QPoint m_pressAt;
    bool m_dragging = false;
    int m_dropBefore = 0;
};
} // namespace slides

class frmBuffer : public QDialog, public slides::SlideSource {
    Q_OBJECT
public:
    explicit frmBuffer(AppState &state, QWidget *parent = nullptr);
    ~frmBuffer() override;

    // ---- SlideSource ----
    int slideCount() const override { return m_slides.count(); }
    QImage slide(int i) const override { return m_slides.slide(i); }
    int slideDuration(int i) const override { return m_slides.slideDuration(i); }

    // One more than the slides, as the rest of the program counts them.
    int ImageCount() const { return slideCount() + 1; }

    // Adds a recorded slide where recording goes: at the end, or after the
    // insertion point, which moves on past it. False, with every slide
    // already held untouched, when it cannot be stored.
    bool append(const QImage &image);
    // Removes every slide; the canvas keeps its height and scroll position.
    void clear();

    // The slide that recording goes after: the newest, or the one before the
    // insertion point; null when there is none. Kept at hand after a
    // recording, read back from the store after any other change.
    QImage lastSlide() const;

    slides::SlideStore &store() { return m_slides.store(); }
    slides::SlideBuffer &slides() { return m_slides; }

    // ---- Choosing, deleting and duplicating slides ----
    const std::set<int> &chosen() const { return m_chosen; }
    // A click on slide n: alone, Shift for the range from the last click, Ctrl to add or remove it.
    void choose(int n, Qt::KeyboardModifiers modifiers);
    void DeleteChosen();     // Delete key, "Удалить"
    void DuplicateChosen();  // "Дублировать"
    // "Добавить звук…": asks for a sound file and gives it to the slide the menu was opened at.
    void AddSoundChosen();
    // Gives slide n the sound in the file at `path`; false, with the person told why, when it is no sound.
    bool attachSound(int n, const QString &path);
    void VolumeChosen();      // "Громкость…": asks for the chosen slides' sounds' volume
    // The slides' sounds decoded, kept for whoever plays them; a sound given to a slide starts decoding here.
    sound::PcmCache &soundCache() { return *m_sounds; }
    // A slide's sound as the cache holds it; null while it is being decoded (asking starts that).
    std::shared_ptr<const sound::Decoded> decodedSound(const slides::SoundClip &clip);
    // "Записать голос…": a take from the microphone becomes the sound of the slide the menu was opened at,
    // as one step, named "Голос N.wav".
    void VoiceChosen();
    bool attachTake(int n, const sound::Pcm &take);
    // "Прослушать": plays the chosen slide's sound alone, from its start, at its volume; while it plays,
    // the same entry stops it, as hiding the buffer and starting the preview do.
    void ListenChosen();
    void stopListening();
    bool listening() const { return m_listen.playing() || m_listenWait.isActive(); }
    void RemoveSoundChosen(); // "Убрать звук"
    void DurationChosen();   // "Длительность…": asks how many frames the chosen slides last
    void LengthenChosen(int delta); // + and − keys: the chosen slides last a frame more or less
    void Undo();             // Ctrl+Z
    void Redo();             // Ctrl+Shift+Z, Ctrl+Y
    void RecordAfterChosen(); // "Записывать после этого слайда"
    void RecordAtEnd();       // "Записывать в конец"
    void ReplaceChosen();     // "Заменить слайд": the chosen slide recorded again from the stage
    // The chosen slides moved together before slide `before` (dragged there), and still chosen.
    void MoveChosen(int before);
    // Ctrl+C, "Копировать": the chosen slides to the clipboard, as slides for this program (its other
    // copies too) and, when one is chosen, as a picture for any other program.
    // False when nothing was copied.
    bool CopyChosen();
    void CutChosen();         // Ctrl+X, "Вырезать": copied, then deleted
    // Ctrl+V, "Вставить": slides or a picture from the clipboard after the last chosen slide (at the end
    // when none is), as one step; the pasted slides are chosen.
    void Paste();
    // The clipboard format that carries slides between copies of this program.
    static constexpr const char *SlidesMime = "application/x-vellumo-slides";
    // The slide the keyboard moves from (the last one clicked or moved to); 0 when none.
    int current() const { return m_current; }
    // Opens the context menu at the chosen slide, as the menu key and Shift+F10 do.
    void menuAtCurrent();
    QMenu *contextMenu() const { return m_menu; }
    int canvasHeight() const { return m_canvasHeight; } // twips

    controls::PictureBox *Picture2;   // viewport that clips the canvas
    slides::ThumbCanvas *Picture1;    // black canvas with the thumbnails, moves up and down
    QScrollBar *VScroll1;             // scrolls the canvas
    QLabel *Label1;                   // "Всего слайдов: N"
    QLabel *Label2;                   // "Длина: N кадров, S с" at the preview's rate
    controls::Button *Command2;       // "Сохранить"
    controls::Button *Command1;       // "Закрыть"
    controls::Button *Command3;       // "Экспорт…"
    controls::Button *Command4;       // "Добавить…"

    // Draws the stage as a slide, for "Заменить слайд": the stage belongs to whoever owns the buffer.
    std::function<QImage()> captureStage;
    // Asks for the folder of a saved series, starting in `start`; empty when the user gave none.
    // The desktop's folder dialog; tests answer in its place.
    std::function<QString(QWidget *parent, const QString &start)> askFolder;
    // Asks how many frames the chosen slides last, starting at `start`; 0 when the user gave none.
    // The window " Длительность"; tests answer in its place.
    std::function<int(QWidget *parent, int start)> askDuration;
    // Asks for a sound file (WAV, MP3, OGG/Opus, FLAC), starting in `start`; empty when the user gave none.
    // The desktop's open dialog; tests answer in its place.
    std::function<QString(QWidget *parent, const QString &start)> askSound;
    // Asks for a volume in per cent (0 to 200), starting at `start`; -1 when the user gave none.
    std::function<int(QWidget *parent, int start)> askVolume;
    // The microphone a voice is recorded from; null when the system has none. Tests give a made-up one.
    std::function<std::unique_ptr<sound::Microphone>()> openMicrophone = sound::defaultMicrophone;
    // Records a voice (the window " Записать голос"); empty when the person gave none. Tests answer in its place.
    std::function<sound::Pcm(QWidget *parent)> askVoice;
    // How long adding waits before it shows its progress window: a folder read sooner shows none.
    int progressDelayMs = 300;

    void Form_Activate();
    void VScroll1_Change();
    void Command1_Click();            // "Закрыть"
    void Command2_Click();            // "Сохранить"
    void Command3_Click();            // "Экспорт…": asks for the export window when there are slides
    void Command4_Click();            // "Добавить…": a saved series after the slides held
    // Reads the numbered slides of `folder` with a progress window and appends them as one step.
    // False when nothing was added: none there, none readable, or cancelled.
    bool addFolder(const QString &folder);
    frmBar *Bar();                    // the progress window, created at first use

signals:
    // The export window lives outside the slide subsystem; whoever owns the buffer opens it.
    void exportRequested();
    // Whenever the slides held change: a recording, a deletion, an undo, a clearing.
    void slidesChanged();
    // Recording was sent elsewhere (lastSlide() may be another slide) while the slides stayed as they were.
    void insertionPointMoved();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void slidesChangedHere();
    void playListened();
    // Moves the choice to slide n by the keyboard (Shift: extends it) and brings it into view.
    void moveTo(int n, bool extend);
    void scrollTo(int n);
    void Picture1_MouseDown(int slide, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint globalPos);

    AppState &m_state;
    slides::SlideBuffer m_slides;
    std::set<int> m_chosen;           // slide numbers
    int m_anchor = 0;                 // the slide a Shift+click range starts from
    int m_current = 0;                // current()
    int m_menuSlide = 0;              // the slide the context menu was opened at
    QMenu *m_menu;
    std::unique_ptr<sound::PcmCache> m_sounds;
    sound::Player m_listen;
    QTimer m_listenWait;              // "Прослушать" waits here for a sound still being decoded
    slides::SlideSound m_listenTo;    // the sound it waits for
    bool m_toldNoSound = false;       // a missing sound output is told once
    int m_canvasHeight;
    frmBar *m_bar = nullptr;
    QImage m_appended;                // the slide just recorded, until slidesChanged is out
    mutable QImage m_last;            // lastSlide(), null until asked for again
};
