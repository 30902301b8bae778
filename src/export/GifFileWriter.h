#pragma once
// Animated GIF export with giflib. A survey of every frame decides the
// colours: a cartoon of at most 256 colours keeps them exactly, pixel for
// pixel; one with more (a photo background) gets a palette that
// libimagequant chooses from the colours counted, and is dithered. After the first frame only the rectangle
// that changed is stored, pixels that stay as they were made transparent,
// and the frame delays are whole centiseconds that add up to the true
// running time. The file loops forever. Frames are LZW-coded on worker
// threads while the next ones are quantised, and by the exporting thread
// when it would otherwise wait for them.

#include <QRgb>

#include <array>
#include <cstdlib>
#include <memory>
#include <vector>

#include "export/FrameWriter.h"
#include "export/OutputFile.h"

namespace exporting {

namespace giflzw {
class Coders;
struct FrameJob;
}

class GifFileWriter : public FrameWriter {
public:
    // `codingThreads`: how many threads code frames while the next ones are
    // prepared; -1 for one for each core but this thread's, 0 to code each
    // frame in turn.
    explicit GifFileWriter(int codingThreads = -1);
    ~GifFileWriter() override;

    bool begin(const QString &path, QSize size, int fps, int frameCount) override;
    bool wantsSurvey() const override { return true; }
    bool survey(const Frame &frame) override;
    bool addFrame(const Frame &frame, int duration) override;
    bool finish() override;
    void abort() override;
    QString error() const override;
    QString temporaryPath() const override { return m_file.temporaryPath(); }

    // After the survey: whether every colour is kept as it is.
    bool exactColours() const { return m_distinct <= 256; }

    // The delay in centiseconds of the frame that starts `ticks` frame
    // times in and lasts `duration` of them: the rounding never adds up.
    static int delayCs(qint64 ticks, int duration, int fps);

private:
    struct Quantiser;
    class ColourCounts;

    bool fail(const QString &why);
    QString writeError() const;
    bool choosePalette();
    bool writeHeader();
    void indexRect(const Frame &frame, const QRect &r);
    void ditherRect(const Frame &frame, const QRect &r, uchar *out);
    // The palette entry nearest to a 24-bit colour, remembered.
    uchar nearest(uint32_t colour)
    {
        const uint32_t at = nearestAt(colour);
        const uchar known = m_nearest[at];
        return known ? uchar(known - 1) : nearestUnknown(colour & 0xffffff, at);
    }
    // Where a colour's nearest entry is remembered: the bits of its channels
    // interleaved, so that colours close to each other, as a dither's are,
    // share cache lines and pages.
    static uint32_t nearestAt(uint32_t colour)
    {
        return Spread[colour >> 16 & 0xff] << 2 | Spread[colour >> 8 & 0xff] << 1 | Spread[colour & 0xff];
    }
    static const std::array<uint32_t, 256> Spread; // a byte's bits, each moved to every third place
    uchar nearestUnknown(uint32_t colour, uint32_t at); // searched for the first time
    bool queueImage(giflzw::FrameJob job);
    bool writeRecords(bool all); // the coded records that are ready, or all of them

    OutputFile m_file;
    QString m_error;
    QSize m_size;
    int m_fps = 12;
    qint64 m_ticks = 0;
    int m_written = 0;
    int m_surveyed = 0;
    int m_surveyStep = 1; // every how many frames the histogram takes one
    int m_codingThreads = -1;
    std::unique_ptr<giflzw::Coders> m_coders;
    int m_codeSize = 8; // bits of a palette index

    // The survey: a bit per 24-bit colour until there are too many to keep.
    std::vector<quint64> m_seen;
    int m_distinct = 0;
    std::unique_ptr<ColourCounts> m_counts; // of the sampled rectangles, for a palette of chosen colours
    std::unique_ptr<Quantiser> m_quant;

    std::vector<QRgb> m_palette;
    int m_transparent = -1;
    std::vector<uint32_t> m_lookupKeys; // open addressing: colour key -> index, exact colours only
    std::vector<uchar> m_lookupValues;

    std::vector<uchar> m_canvas;   // palette indexes as a player shows them after the last frame
    std::vector<uchar> m_previous; // source pixels of the last frame, to keep a dithered pixel that stays
    std::vector<uchar> m_indexes;  // the changed rectangle's new indexes
    struct FreeDeleter {
        void operator()(uchar *p) const { std::free(p); }
    };
    std::unique_ptr<uchar[], FreeDeleter> m_nearest; // per colour, at nearestAt(): 1 + its nearest entry, 0 until met
    std::vector<int> m_errors;     // two rows of dithering errors, in sixteenths
};

} // namespace exporting
