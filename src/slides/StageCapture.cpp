#include "slides/StageCapture.h"

#include <QWidget>

#include "slides/SlideSource.h"

namespace slides {

namespace {

QImage drawInto(QImage image, QWidget *area)
{
    // Scale 1 whatever the screen's ratio: a slide is 396 x 346 real pixels.
    image.setDevicePixelRatio(1.0);
    image.fill(Qt::black);
    if (area)
        area->render(&image, QPoint(), QRegion(0, 0, SlideWidth, SlideHeight),
                     QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

} // namespace

QImage captureStage(QWidget *area)
{
    QImage image(SlideWidth, SlideHeight, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    return drawInto(std::move(image), area);
}

QImage captureStage(QWidget *area, std::span<QImage> spare)
{
    // An image held only here is no one's slide any more: drawing over it changes nothing anyone sees.
    for (QImage &kept : spare) {
        if (!kept.isNull() && kept.isDetached())
            return kept = drawInto(std::move(kept), area);
    }
    QImage image = captureStage(area);
    for (QImage &kept : spare) {
        if (kept.isNull()) {
            kept = image;
            break;
        }
    }
    return image;
}

} // namespace slides
