#include "slides/StageCapture.h"

#include <QWidget>

#include "slides/SlideSource.h"

namespace slides {

QImage captureStage(QWidget *area)
{
    QImage image(SlideWidth, SlideHeight, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // Scale 1 whatever the screen's ratio: a slide is 396 x 346 real pixels.
    image.setDevicePixelRatio(1.0);
    image.fill(Qt::black);
    if (area)
        area->render(&image, QPoint(), QRegion(0, 0, SlideWidth, SlideHeight),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

} // namespace slides
