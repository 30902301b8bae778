#include "slides/OnionSkin.h"

#include <QPaintEvent>
#include <QPainter>

namespace slides {

OnionSkin::OnionSkin(QWidget *surface, QWidget *parent) : QWidget(parent), m_surface(surface)
{
    setObjectName(QStringLiteral("OnionSkin"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(surface->geometry());
    surface->installEventFilter(this);
}

bool OnionSkin::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_surface && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        setGeometry(m_surface->geometry());
    return QWidget::eventFilter(watched, event);
}

void OnionSkin::setSlide(const QImage &slide)
{
    if (slide.isNull()) {
        if (m_ghost.isNull())
            return;
        m_ghost = QImage();
    } else {
        QImage ghost(slide.size(), QImage::Format_ARGB32_Premultiplied);
        if (ghost.isNull()) // no memory for it: the stage simply shows without the overlay
            return;
        ghost.setDevicePixelRatio(1.0);
        ghost.fill(Qt::transparent);
        QPainter p(&ghost);
        p.setOpacity(Strength);
        p.drawImage(0, 0, slide);
        p.end();
        m_ghost = std::move(ghost);
    }
    update();
}

void OnionSkin::paintEvent(QPaintEvent *event)
{
    if (m_ghost.isNull())
        return;
    QPainter p(this);
    const QRect r = event->rect();
    p.drawImage(r.topLeft(), m_ghost, r);
}

} // namespace slides
