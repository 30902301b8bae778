#pragma once
// Reading a saved series back: the numbered slides of a folder ("001.bmp",
// ... and PNG or JPEG pictures named by number) packed as the buffer packs
// recorded slides, ready to be appended in one step. Runs on a thread of
// its own; the buffer is not touched until the reading is over.

#include <QString>

#include <atomic>
#include <functional>

#include "slides/SlideBuffer.h"

namespace slides {

struct Series {
    enum Status { Read, NoSlides, Unreadable, Cancelled, OutOfMemory } status = NoSlides;
    SlideBuffer::Taken slides;   // packed in numeric order; the first is a key
    int leftOut = 0;             // files of another size or that could not be read
    QString firstLeftOut;        // the path of the first of them
    int count() const { return int(slides.packed.size()); }
};

// Reads the series in `folder`. `progress(done, total)` is called after each
// file; `cancel` is looked at between files.
Series readSeries(const QString &folder, const std::atomic<bool> &cancel,
                  const std::function<void(int done, int total)> &progress = {});

} // namespace slides
