#pragma once
// Turns the stage into a slide by drawing its widgets into an image, never
// by reading the screen: windows lying over the stage, a stage partly off
// the screen, a desktop that forbids reading its pixels or a HiDPI scale
// cannot put foreign or scaled pixels into a slide.

#include <QImage>

class QWidget;

namespace slides {

// The top-left 396 x 346 pixels of `area` and everything shown inside it,
// at scale 1, as Format_RGB32. Parts of the image that `area` does not
// cover stay black.
QImage captureStage(QWidget *area);

} // namespace slides
