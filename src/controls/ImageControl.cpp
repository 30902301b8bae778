#include "controls/ImageControl.h"

#include <QMouseEvent>
#include <QPainter>

#include "controls/Contrast.h"
#include "controls/Twips.h"

namespace controls {

ImageControl::ImageControl(QWidget *parent) : QWidget(parent)
{
}

void ImageControl::setPicture(const QImage &picture, const QByteArray &source)
{
    m_picture = picture;
    m_source = source;
    if (!m_stretch && !picture.isNull())
        twips::resize(this, twips::fromPixels(picture.width()), twips::fromPixels(picture.height()));
    repaintIfExposed();
}

void ImageControl::setStretch(bool on)
{
    m_stretch = on;
    repaintIfExposed();
}

void ImageControl::setPlaceholder(const QString &text)
{
    m_placeholder = text;
    repaintIfExposed();
}

bool ImageControl::exposed() const
{
    QRect area = rect();
    for (const QWidget *w = this; !w->isWindow() && w->parentWidget(); w = w->parentWidget()) {
        area = area.translated(w->pos()) & w->parentWidget()->rect();
        if (area.isEmpty())
            return false;
    }
    return true;
}

void ImageControl::repaintIfExposed()
{
    if (exposed())
        update();
}

bool ImageControl::event(QEvent *event)
{
    // Qt keeps every updated widget on its list for the next repaint even
    // when its containers clip it away wholly, and then compares each with
    // all the siblings stacked above it. A widget being shown asks for such
    // an update too. Among thousands of images (the picker's cells) that made
    // a repaint cost a hundred milliseconds and more. A widget out of sight
    // is painted anyway when it comes into view, so its updates are dropped.
    if (event->type() == QEvent::UpdateLater && !exposed())
        return true;
    return QWidget::event(event);
}

void ImageControl::copySettingsFrom(const ImageControl &other)
{
    m_stretch = other.m_stretch;
}

void ImageControl::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_picture.isNull()) {
        if (m_stretch) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(rect(), m_picture);
        } else {
            p.drawImage(0, 0, m_picture);
        }
    } else if (!m_placeholder.isEmpty()) {
        const QColor grey(60, 60, 60);
        p.fillRect(rect(), grey);
        p.setPen(QPen(readableOn(QColor(220, 60, 60), grey), 2));
        p.drawRect(rect().adjusted(1, 1, -1, -1));
        p.drawLine(rect().topLeft(), rect().bottomRight());
        p.setPen(Qt::white);
        p.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWrapAnywhere, m_placeholder);
    }
}

void ImageControl::mousePressEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    emit MouseDown(event->button(), event->buttons(), event->modifiers(), pos.x() * twips::PerPixel,
                   pos.y() * twips::PerPixel);
}

void ImageControl::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF pos = event->position();
    emit MouseMove(event->buttons(), event->modifiers(), pos.x() * twips::PerPixel, pos.y() * twips::PerPixel);
}

void ImageControl::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The press that starts a double-click has already been reported.
    Q_UNUSED(event);
    emit DblClick();
}

} // namespace controls
