#pragma once
// An export as one job: frames from a source, through the writer of the
// chosen format, into a file that appears whole or not at all. The job runs
// on any thread; it tells a Progress how far it is and asks it whether to
// stop. The export window and the command line run this same job.

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

#include "export/FrameSource.h"
#include "export/FrameWriter.h"

namespace exporting {

// ".gif", ".mp4", ".webm"
QString suffixFor(Format format);
// "Анимированный GIF", "Видео MP4 (H.264)", "Видео WebM (VP9)"
QString titleFor(Format format);
// The format a file name asks for by its extension, in any letter case.
std::optional<Format> formatForPath(const QString &path);
constexpr Format AllFormats[] = {Format::Gif, Format::Mp4, Format::WebM};

class Progress {
public:
    virtual ~Progress() = default;
    // `done` of `total` steps; a step is a frame read or written.
    virtual void report(int done, int total) = 0;
    virtual bool cancelled() const = 0;
};

// Progress that another thread reads and cancels.
class SharedProgress : public Progress {
public:
    void report(int done, int total) override
    {
        m_total.store(total, std::memory_order_relaxed);
        m_done.store(done, std::memory_order_release);
    }
    bool cancelled() const override { return m_cancel.load(std::memory_order_acquire); }
    void cancel() { m_cancel.store(true, std::memory_order_release); }
    // For work before the frames (decoding sound) that can be stopped too.
    const std::atomic<bool> *cancelFlag() const { return &m_cancel; }
    int done() const { return m_done.load(std::memory_order_acquire); }
    int total() const { return m_total.load(std::memory_order_relaxed); }

private:
    std::atomic<int> m_done{0};
    std::atomic<int> m_total{0};
    std::atomic<bool> m_cancel{false};
};

struct Outcome {
    enum Status { Written, Cancelled, Failed };
    Status status = Failed;
    QString message; // for a person: what failed and why, naming the file
};

// Frame rates the program offers, as the preview does.
constexpr int MinRate = 1;
constexpr int MaxRate = 24;

// While it runs, the temporary file is listed in `stateFolder` (see
// UnfinishedExports.h); an empty folder lists nothing.
Outcome runExport(FrameSource &source, Format format, int fps, const QString &path, Progress &progress,
                  const QString &stateFolder = QString());
// The same with a writer made by the caller (a GIF writer told how many
// threads to use, say).
Outcome runExport(FrameSource &source, std::unique_ptr<FrameWriter> writer, int fps, const QString &path,
                  Progress &progress, const QString &stateFolder = QString());

} // namespace exporting
