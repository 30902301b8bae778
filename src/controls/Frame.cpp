#include "controls/Frame.h"

#include <QPainter>

namespace controls {

Frame::Frame(const QString &caption, QWidget *parent) : QGroupBox(caption, parent)
{
    setAutoFillBackground(true);
}

void Frame::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QFontMetrics fm(font());
    // The line runs through the middle of the caption.
    const QRect line = rect().adjusted(0, fm.height() / 2, -2, -2);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(line);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(line.translated(1, 1));
    if (title().isEmpty())
        return;
    const QRect caption(6, 0, fm.horizontalAdvance(title()) + 4, fm.height());
    p.fillRect(caption, palette().window());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignCenter, title());
}

} // namespace controls
