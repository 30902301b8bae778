#include "export/SizeEstimate.h"

#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <new>

#include "export/ScaledFrames.h"

namespace exporting {

namespace {

constexpr int Runs = 3;
constexpr int RunLength = 12;
// Up to this many slides every one is encoded: the estimate is then exact
// and costs no more than the runs and their halves would.
constexpr int HoldAll = Runs * RunLength * 3 / 2;

// Chosen frames of a sample, in the order given; what changed is found
// against the frame given before, as the writers expect.
class PickedFrames : public FrameSource {
public:
    PickedFrames(const SizeSample &sample, std::vector<int> picks) : m_sample(sample), m_picks(std::move(picks)) {}
    int count() const override { return int(m_picks.size()); }
    bool read(int i, Frame &frame, QString &) override
    {
        const qsizetype stride = qsizetype(m_sample.size.width()) * 3;
        const auto *rows = reinterpret_cast<const uchar *>(m_sample.frames[size_t(m_picks[size_t(i - 1)])].constData());
        frame.bgr = rows;
        frame.stride = stride;
        frame.size = m_sample.size;
        frame.changed = i > 1 && m_last == i - 1 ? differingRect(rows, m_before, stride, m_sample.size)
                                                 : QRect(QPoint(0, 0), m_sample.size);
        m_before = rows;
        m_last = i;
        return true;
    }

private:
    const SizeSample &m_sample;
    std::vector<int> m_picks;
    const uchar *m_before = nullptr;
    int m_last = 0;
};

class StopWhen : public Progress {
public:
    explicit StopWhen(const std::function<bool()> &stop) : m_stop(stop) {}
    void report(int, int) override {}
    bool cancelled() const override { return m_stop && m_stop(); }

private:
    const std::function<bool()> &m_stop;
};

// The size of the file the frames make; -1 when stopped or failed.
qint64 encodedSize(const SizeSample &sample, std::vector<int> picks, Format format, int fps, int scale,
                   const QString &folder, const std::function<bool()> &stop)
{
    PickedFrames picked(sample, std::move(picks));
    ScaledFrames scaled(picked, scale);
    StopWhen progress(stop);
    const QString path = folder + QStringLiteral("/estimate") + suffixFor(format);
    if (runExport(scaled, format, fps, path, progress).status != Outcome::Written)
        return -1;
    const qint64 bytes = QFileInfo(path).size();
    QFile::remove(path);
    return bytes;
}

} // namespace

std::vector<int> sampleSlides(int count, int &runs, int &runLength)
{
    std::vector<int> slides;
    if (count <= HoldAll) {
        runs = 1;
        runLength = count;
        for (int i = 1; i <= count; ++i)
            slides.push_back(i);
        return slides;
    }
    runs = Runs;
    runLength = RunLength;
    for (int r = 0; r < Runs; ++r) {
        const int first = 1 + int(qint64(r) * (count - RunLength) / (Runs - 1));
        for (int k = 0; k < RunLength; ++k)
            slides.push_back(first + k);
    }
    return slides;
}

bool takeSample(FrameSource &source, SizeSample &sample, const std::function<bool()> &stop)
{
    sample = SizeSample{};
    sample.count = source.count();
    const std::vector<int> slides = sampleSlides(sample.count, sample.runs, sample.runLength);
    try {
        for (int i : slides) {
            if (stop && stop())
                return false;
            Frame frame;
            QString error;
            if (!source.read(i, frame, error))
                return false;
            sample.size = frame.size;
            const qsizetype rowBytes = qsizetype(frame.size.width()) * 3;
            QByteArray rows(rowBytes * frame.size.height(), Qt::Uninitialized);
            for (int y = 0; y < frame.size.height(); ++y)
                std::memcpy(rows.data() + y * rowBytes, frame.bgr + y * frame.stride, size_t(rowBytes));
            sample.frames.push_back(std::move(rows));
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return !sample.frames.empty();
}

qint64 estimateSize(const SizeSample &sample, Format format, int fps, int scale, const std::function<bool()> &stop)
{
    if (sample.frames.empty())
        return -1;
    QTemporaryDir folder;
    if (!folder.isValid())
        return -1;
    const int held = int(sample.frames.size());
    std::vector<int> all(static_cast<size_t>(held));
    for (int k = 0; k < held; ++k)
        all[size_t(k)] = k;
    const qint64 runs = encodedSize(sample, all, format, fps, scale, folder.path(), stop);
    if (sample.whole() || runs < 0)
        return runs;

    // The runs hold the file's start, a jump to each run and the slides that
    // follow within a run. The first halves of the runs hold the same start
    // and like jumps, with the encoder as settled after each; what the whole
    // runs have more is what following slides cost. A file of slide 1 alone
    // is the start.
    const int half = sample.runLength / 2;
    std::vector<int> halves;
    for (int r = 0; r < sample.runs; ++r)
        for (int k = 0; k < half; ++k)
            halves.push_back(r * sample.runLength + k);
    const qint64 halfRuns = encodedSize(sample, halves, format, fps, scale, folder.path(), stop);
    const qint64 start = halfRuns < 0 ? -1 : encodedSize(sample, {0}, format, fps, scale, folder.path(), stop);
    if (start < 0)
        return -1;
    // A video starts a key frame every two seconds (2 * fps slides), costing about what the first slide
    // does in place of a following one. The runs may hold one more than their halves, unless it fell on
    // a jump that the encoder began with a key frame anyway: what following slides cost is taken as
    // lying between the two readings.
    const qint64 keyEvery = format == Format::Gif ? 0 : 2 * qint64(fps);
    const auto keysIn = [keyEvery](qint64 slides) { return keyEvery > 0 ? (slides - 1) / keyEvery : 0; };
    const qint64 more = qint64(sample.runs) * (sample.runLength - half);
    const qint64 moreKeys = keysIn(qint64(sample.runs) * sample.runLength) - keysIn(qint64(sample.runs) * half);
    const double withKeys = double(std::max<qint64>(runs - halfRuns, 0)) / double(more);
    const double withoutKeys =
        std::max(0.0, double(runs - halfRuns - start * moreKeys)) / double(std::max<qint64>(more - moreKeys, 1));
    const double following = moreKeys > 0 ? std::max(withoutKeys, withKeys / 2) : withKeys;
    const double keyExtra = std::max(0.0, double(start) - following);
    return start + qint64(following * double(sample.count - 1) + keyExtra * double(keysIn(sample.count)));
}

QString approximateSize(qint64 bytes)
{
    QLocale russian(QLocale::Russian);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    // Two or three figures, as file managers show sizes; a value that would
    // round up to 1000 is shown in the next unit.
    const auto shown = [&](double value, const QString &unit) {
        return QStringLiteral("≈ %1 %2").arg(russian.toString(value, 'f', value < 9.95 ? 1 : 0), unit);
    };
    if (bytes < 1000)
        return QStringLiteral("≈ %1 байт").arg(std::max<qint64>(bytes, 0));
    if (bytes < 999'500)
        return shown(bytes / 1e3, QStringLiteral("КБ"));
    if (bytes < 999'500'000)
        return shown(bytes / 1e6, QStringLiteral("МБ"));
    return shown(bytes / 1e9, QStringLiteral("ГБ"));
}

} // namespace exporting
