#pragma once
// The slide buffer " Буфер слайдов": the store of every recorded slide for
// the whole run, shown as thumbnails eight to a row on a black canvas that
// scrolls vertically. Created hidden at first reference and only ever
// hidden afterwards, however it is closed, so its slides survive.

#include <QDialog>
#include <QImage>

#include <vector>

#include "app/AppState.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

class QLabel;
class QScrollBar;
class frmBar;
namespace controls {
class Button;
class PictureBox;
}

namespace slides {
// The canvas: paints only the thumbnails of the rows in view, so that ten
// thousand slides cost no more to show than eight.
class ThumbCanvas : public QWidget {
    Q_OBJECT
public:
    ThumbCanvas(const std::vector<QImage> &thumbs, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const std::vector<QImage> &m_thumbs;
};
} // namespace slides

class frmBuffer : public QDialog, public slides::SlideSource {
    Q_OBJECT
public:
    explicit frmBuffer(AppState &state, QWidget *parent = nullptr);
    ~frmBuffer() override;

    // ---- SlideSource ----
    int slideCount() const override { return m_store.count(); }
    QImage slide(int i) const override { return m_store.slide(i); }

    // One more than the slides, as the rest of the program counts them.
    int ImageCount() const { return slideCount() + 1; }

    // Adds the newest slide and its thumbnail. False, with every slide
    // already held untouched, when it cannot be stored.
    bool append(const QImage &image);
    // Removes every slide; the canvas keeps its height and scroll position.
    void clear();

    // The newest slide; null when there is none. Kept at hand after a
    // recording, read back from the store after any other change.
    QImage lastSlide() const;

    slides::SlideStore &store() { return m_store; }
    int canvasHeight() const { return m_canvasHeight; } // twips

    controls::PictureBox *Picture2;   // viewport that clips the canvas
    slides::ThumbCanvas *Picture1;    // black canvas with the thumbnails, moves up and down
    QScrollBar *VScroll1;             // scrolls the canvas
    QLabel *Label1;                   // "Всего слайдов: N"
    controls::Button *Command2;       // "Сохранить"
    controls::Button *Command1;       // "Закрыть"

    void Form_Activate();
    void VScroll1_Change();
    void Command1_Click();            // "Закрыть"
    void Command2_Click();            // "Сохранить"
    frmBar *Bar();                    // the progress window, created at first use

signals:
    // Whenever the slides held change: a recording, a clearing or any other edit.
    void slidesChanged();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    AppState &m_state;
    slides::SlideStore m_store;
    std::vector<QImage> m_thumbs;     // 75 x 63, one per slide, made when the slide comes in
    int m_canvasHeight;
    frmBar *m_bar = nullptr;
    QImage m_appended;                // the slide just recorded, until slidesChanged is out
    mutable QImage m_last;            // lastSlide(), null until asked for again
};
