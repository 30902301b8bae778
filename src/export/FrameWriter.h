#pragma once
// One writer per file format, behind one small interface: begin, add a
// frame with its duration, then finish (the file is renamed into place) or
// abort (the temporary file is removed). Writers never see a window.

#include <QRect>
#include <QSize>
#include <QString>

#include <memory>

namespace exporting {

// A frame as the writers get it: rows of blue-green-red bytes, top down.
struct Frame {
    const uchar *bgr = nullptr;
    qsizetype stride = 0;
    QSize size;
    // Outside this rectangle the frame equals the one before; the whole
    // frame for the first, empty when nothing changed.
    QRect changed;
};

enum class Format { Gif, Mp4, WebM };

class FrameWriter {
public:
    virtual ~FrameWriter() = default;

    // Starts a file of `frameCount` frames of `size` at `fps` frames a
    // second, under a temporary name beside `path`.
    virtual bool begin(const QString &path, QSize size, int fps, int frameCount) = 0;

    // A writer that must see every frame before it writes one (a GIF needs
    // its colours) gets them all here first, in order.
    virtual bool wantsSurvey() const { return false; }
    virtual bool survey(const Frame &) { return true; }

    // `duration` counts frame times of 1 / fps seconds.
    virtual bool addFrame(const Frame &frame, int duration) = 0;
    virtual bool finish() = 0;
    virtual void abort() = 0;

    // Why the last step failed, for a person to read.
    virtual QString error() const = 0;
    // The hidden file being written between begin and finish or abort.
    virtual QString temporaryPath() const = 0;
};

std::unique_ptr<FrameWriter> makeWriter(Format format);

} // namespace exporting
