#pragma once
// Onion skin: the last recorded slide laid faintly over the live stage, so
// that a new pose can be judged against the one before. It sits over the
// stage's drawing surface as a sibling, not inside it, so that a capture of
// the stage never sees it; it lets every mouse event through to the scene.

#include <QImage>
#include <QRegion>
#include <QWidget>

namespace slides {

class OnionSkin : public QWidget {
    Q_OBJECT
public:
    // How strongly the last slide shows over the stage.
    static constexpr double Strength = 1.0 / 3.0;

    // Lies over `surface`, a child of `parent`, wherever it is and whatever its size.
    OnionSkin(QWidget *surface, QWidget *parent);

    // The slide to show; a null image shows nothing. `stageAsShown`: the
    // slide is the stage captured just now, as it shows under the overlay.
    void setSlide(const QImage &slide, bool stageAsShown = false);
    bool hasSlide() const { return !m_slide.isNull(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_surface;
    QImage m_slide;         // the slide shown, as Format_RGB32
    QRegion m_repainted;    // what has been repainted under the overlay since the slide came
};

} // namespace slides
