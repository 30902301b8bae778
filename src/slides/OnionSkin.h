#pragma once
// Onion skin: the last recorded slide laid faintly over the live stage, so
// that a new pose can be judged against the one before. It sits over the
// stage's drawing surface as a sibling, not inside it, so that a capture of
// the stage never sees it; it lets every mouse event through to the scene.

#include <QImage>
#include <QWidget>

namespace slides {

class OnionSkin : public QWidget {
    Q_OBJECT
public:
    // How strongly the last slide shows over the stage.
    static constexpr double Strength = 1.0 / 3.0;

    // Lies over `surface`, a child of `parent`, wherever it is and whatever its size.
    OnionSkin(QWidget *surface, QWidget *parent);

    // The slide to show; a null image shows nothing.
    void setSlide(const QImage &slide);
    bool hasSlide() const { return !m_ghost.isNull(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_surface;
    // Made once per slide with the strength already applied, so that a
    // repaint of the stage under it is a plain blend of the pixels it covers.
    QImage m_ghost;
};

} // namespace slides
