#pragma once
// A source's frames for a writer that goes over them twice (a GIF surveys
// its colours first). The first pass reads the source on a thread of its
// own, a few frames ahead of their use, and keeps what changed in each frame
// in memory up to a bound; the second pass takes those frames from memory,
// and reads the source again only for the frames past the bound. A folder's
// slides are so read from disk once, and compared with the slide before
// once. The reader is woken when half the frames read ahead are used, not for
// each frame.

#include <QRect>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "export/FrameSource.h"

namespace exporting {

class RememberedFrames : public FrameSource {
public:
    // The changes of a typical cartoon's 1,000 slides fit; an export of a
    // folder of 10,000 slides then holds about 60 MB more while it runs, and
    // reads the slides past the bound twice.
    static constexpr size_t DefaultBound = size_t(80) << 20;

    explicit RememberedFrames(FrameSource &source, size_t bound = DefaultBound);
    ~RememberedFrames() override;
    int count() const override { return int(m_durations.size()); }
    bool read(int i, Frame &frame, QString &error) override;
    int duration(int i) const override;

    // How many frames, from the first, are held in memory for the next pass.
    int kept() const;

private:
    struct Stored {
        QSize size;
        QRect changed;            // as the source told it
        QRect kept;               // the part whose rows are in `bytes`
        std::vector<uchar> bytes; // those rows, packed
        bool ready = false;
    };

    void startFrom(int first);
    void stop();
    void readFrom(int first); // the reading thread
    bool show(const Stored &stored, Frame &frame, QString &error);

    FrameSource &m_source;
    size_t m_bound;
    std::vector<int> m_durations;
    std::vector<uchar> m_rows; // the frame as the writer sees it
    QSize m_size;
    int m_next = 1;            // the frame the writer will ask for next
    bool m_started = false;
    bool m_direct = false;     // asked out of order: the source is read as it is

    mutable std::mutex m_mutex;
    std::condition_variable m_readable; // a frame is read, or reading failed
    std::condition_variable m_room;     // the reader may read on
    bool m_awaited = false;   // the writer waits for a frame
    int m_resumeAt = 0;       // the reader waits until this many are used; 0 while it reads
    std::vector<Stored> m_frames;
    int m_used = 0;           // frames the writer has had in this pass
    int m_firstUnkept = 0;    // frames from this one on are not held; 0 while all are
    size_t m_keptBytes = 0;
    bool m_remembering = true;
    int m_failedAt = 0;       // the frame the source could not give, 0 for none
    QString m_failure;
    bool m_stop = false;
    std::thread m_reader;
};

} // namespace exporting
