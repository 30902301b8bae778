#pragma once
// Reading a saved series back: the numbered slides of a folder ("001.bmp",
// ... and PNG or JPEG pictures named by number) packed as the buffer packs
// recorded slides, ready to be appended in one step. Runs on a thread of
// its own; the buffer is not touched until the reading is over.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

#include "slides/SlideStore.h"

namespace slides {

struct Series {
    enum Status { Read, NoSlides, Unreadable, Cancelled, OutOfMemory } status = NoSlides;
    SlideStore slides;           // packed in numeric order, as recording packs them
    int leftOut = 0;             // files of another size or that could not be read
    QString firstLeftOut;        // the path of the first of them
    int count() const { return slides.count(); }
};

// Appends the slide held in one file's `bytes` (read whole under the asset
// rules) to `store`: a saved slide straight from its rows, any other picture
// of a slide's size decoded. Every file of a series goes through here.
enum class Added { Yes, LeftOut, OutOfMemory };
Added addSlide(QByteArray &bytes, SlideStore &store);

// Reads the series in `folder`. `progress(done, total)` is called on the
// calling thread as files are read (a long series is read in two parts at
// once); `cancel` is looked at between files.
Series readSeries(const QString &folder, const std::atomic<bool> &cancel,
                  const std::function<void(int done, int total)> &progress = {});

} // namespace slides
