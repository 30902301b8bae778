#pragma once
// How large the file of an export will be, known before it is written: a
// few short runs of slides spread over the cartoon are encoded with the
// chosen format, rate and size, and the cost of one slide following another
// is carried over to every slide. Runs on any thread; stops when asked.

#include <QByteArray>
#include <QSize>
#include <QString>

#include <functional>
#include <vector>

#include "export/ExportJob.h"
#include "export/FrameSource.h"

namespace exporting {

// Copies of the slides the estimate encodes, read once and kept, so that a
// change of format, rate or size does not read the slides again.
struct SizeSample {
    int count = 0;      // slides of the whole cartoon
    int runs = 0;       // runs of consecutive slides; 1 when every slide is held
    int runLength = 0;  // slides in each run
    QSize size;
    std::vector<QByteArray> frames; // rows of blue-green-red bytes, run after run

    bool whole() const { return int(frames.size()) == count; }
};

// Slide numbers (from 1) of the runs: the first starts at slide 1, the last
// ends at the last slide. Every slide when there are too few to save work.
std::vector<int> sampleSlides(int count, int &runs, int &runLength);

// False when stopped or the source failed.
bool takeSample(FrameSource &source, SizeSample &sample, const std::function<bool()> &stop);

// Bytes the file would have; -1 when stopped or a step failed.
qint64 estimateSize(const SizeSample &sample, Format format, int fps, int scale, const std::function<bool()> &stop);

// "≈ 1,2 МБ", "≈ 640 КБ": sizes as the desktop's file manager shows them.
QString approximateSize(qint64 bytes);

} // namespace exporting
