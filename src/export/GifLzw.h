#pragma once
// The image data of one GIF frame, LZW-coded, and the bytes around it, made
// apart from the file so that frames can be coded on several threads.

#include <QRect>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace exporting::giflzw {

// What one frame's record needs: its rectangle on the screen, its palette
// indexes row after row, and, for each pixel, whether the transparent index
// would show the same (the pixel is already on the screen).
struct FrameJob {
    QRect rect;
    std::vector<uint8_t> indexes;
    std::vector<uint8_t> showsAlready; // empty: every pixel must be written as it is
    int delayCs = 0;
    int transparent = -1;              // the transparent index, -1 for none
    int minCodeSize = 8;
};

// Codes the pixels with LZW (minimum code size, sub-blocks, terminator) and
// appends them to `out`. Pixels that show already become transparent or keep
// their index in the way, of a few tried, whose code is shortest.
void encodeImage(const FrameJob &job, std::vector<uint8_t> &out);

// The frame's whole record: graphic control extension (no disposal),
// image descriptor and image data.
std::vector<uint8_t> frameRecord(const FrameJob &job);

// Codes frame records on worker threads while the caller prepares the next
// frames, and hands the records back in the order they were given.
class Coders {
public:
    // With no threads, submit() codes the record itself.
    explicit Coders(int threads);
    ~Coders(); // stops the workers; records not taken are dropped
    void submit(FrameJob job);
    // The oldest record not yet taken, when it is done (or, with `wait`, once
    // it is). False when there is none; `failed` when coding it ran out of memory.
    bool take(std::vector<uint8_t> &record, bool wait, bool &failed);
    int waiting() const;
    // An empty buffer for a job's pixels, one given back by a coded frame where there is one.
    std::vector<uint8_t> buffer();

private:
    struct Slot {
        FrameJob job;
        std::vector<uint8_t> record;
        bool done = false;
        bool failed = false;
    };
    void work();
    void code(Slot &slot); // without m_mutex held
    void giveBack(FrameJob &job); // with m_mutex held

    mutable std::mutex m_mutex;
    std::condition_variable m_started, m_finished;
    std::deque<std::shared_ptr<Slot>> m_order; // given, not yet taken
    std::deque<std::shared_ptr<Slot>> m_queue; // given, not yet started
    std::vector<std::vector<uint8_t>> m_spare; // buffers of coded frames, for the next ones
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace exporting::giflzw
