#pragma once
// MP4 (H.264) and WebM (VP9) export through FFmpeg's libraries: yuv420p,
// which browsers and phones play, at a constant rate, every frame lasting
// exactly 1 / fps seconds, the MP4's index at the front so that it starts
// playing before it is all downloaded.

#include <memory>

#include "export/FrameWriter.h"
#include "export/OutputFile.h"
#include "sound/Sound.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

namespace exporting {

class VideoFileWriter : public FrameWriter {
public:
    explicit VideoFileWriter(Format format);
    ~VideoFileWriter() override;

    // The sound under the film, mixed to the cartoon's exact length; set before begin(). An MP4 carries it as
    // AAC, a WebM as Opus, both 48 kHz stereo, in step with the pictures.
    void setSound(std::shared_ptr<const sound::Pcm> mix) { m_sound = std::move(mix); }

    bool begin(const QString &path, QSize size, int fps, int frameCount) override;
    bool addFrame(const Frame &frame, int duration) override;
    bool finish() override;
    void abort() override;
    QString error() const override { return m_error; }
    QString temporaryPath() const override { return m_file.temporaryPath(); }

    // The encoder settings, also for comparing with the ffmpeg program.
    static const char *encoderName(Format format);
    // How many equal frames a slide becomes in `format` at `fps`: below this
    // rate an MP4 is written faster, each slide repeated, durations kept.
    static constexpr int MinContainerRate = 10;
    static int repeatsAt(Format format, int fps);

private:
    bool fail(const QString &why);
    bool failWith(int averror);
    bool drain();
    bool beginSound();
    // Writes the encoded sound up to 48 kHz frame `until` (all of it when `last`).
    bool writeSound(qint64 until, bool last);
    void release();

    Format m_format;
    OutputFile m_file;
    QString m_error;
    QSize m_size;
    qint64 m_pts = 0;
    int m_repeats = 1;  // equal frames per slide frame time
    AVFormatContext *m_out = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVStream *m_stream = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    SwsContext *m_scale = nullptr;
    int m_rate = 1;     // frames a second in the file
    std::shared_ptr<const sound::Pcm> m_sound;
    AVStream *m_audioStream = nullptr;
    // The sound is encoded on a thread of its own while the pictures are, and its packets are written in
    // step with theirs.
    struct SoundEncoding;
    std::unique_ptr<SoundEncoding> m_soundJob;
};

} // namespace exporting
