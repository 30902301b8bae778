#pragma once
// Read access to the recorded slides, for saving and for the preview.
// Slides are numbered from 1 in recording order; every slide is 396 x 346.

#include <QImage>

namespace slides {

constexpr int SlideWidth = 396;
constexpr int SlideHeight = 346;

class SlideSource {
public:
    virtual ~SlideSource() = default;
    virtual int slideCount() const = 0;
    // Slide i, 1 <= i <= slideCount(); a null image otherwise.
    virtual QImage slide(int i) const = 0;
    // How many frame times slide i is shown for in playback.
    virtual int slideDuration(int) const { return 1; }
};

} // namespace slides
