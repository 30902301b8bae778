#include "export/VideoFileWriter.h"

#include <QFile>
#include <QThread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace exporting {

namespace {

const char *muxerName(Format format) { return format == Format::WebM ? "webm" : "mp4"; }

} // namespace

VideoFileWriter::VideoFileWriter(Format format) : m_format(format) {}

VideoFileWriter::~VideoFileWriter() { abort(); }

const char *VideoFileWriter::encoderName(Format format) { return format == Format::WebM ? "libvpx-vp9" : "libx264"; }

bool VideoFileWriter::fail(const QString &why)
{
    if (m_error.isEmpty())
        m_error = why;
    return false;
}

bool VideoFileWriter::failWith(int averror)
{
    // FFmpeg hands the system's errors on as negative error numbers.
    if (averror < 0 && -averror < 4096) {
        m_file.setError(-averror);
        return fail(m_file.error());
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return fail(QString::fromUtf8(text));
}

int VideoFileWriter::repeatsAt(Format format, int fps)
{
    // Players in messengers and some browsers stall or drop the end of a video below about 10 frames
    // a second, so a slow MP4 shows each slide as several equal frames at a rate they handle.
    if (format != Format::Mp4 || fps >= MinContainerRate || fps <= 0)
        return 1;
    return (MinContainerRate + fps - 1) / fps;
}

bool VideoFileWriter::begin(const QString &path, QSize size, int fps, int)
{
    abort();
    m_error.clear();
    m_size = size;
    m_pts = 0;
    m_repeats = repeatsAt(m_format, fps);
    const int rate = fps * m_repeats;
    m_rate = rate;
    // The libraries would print their settings and statistics on the
    // terminal; what went wrong comes back here and is said once.
    av_log_set_level(AV_LOG_QUIET);
    if (size.isEmpty() || size.width() % 2 || size.height() % 2)
        return fail(QStringLiteral("Ширина и высота кадра должны быть чётными"));
    const AVCodec *codec = avcodec_find_encoder_by_name(encoderName(m_format));
    if (!codec)
        return fail(QStringLiteral("В библиотеке FFmpeg нет кодека %1").arg(QLatin1String(encoderName(m_format))));
    if (!m_file.create(path))
        return fail(m_file.error());
    // The library opens the file by its name again, which the mp4 muxer's
    // fast start needs to move the index to the front.
    m_file.closeDescriptor();
    const QByteArray url = "file:" + QFile::encodeName(m_file.temporaryPath());

    int rc = avformat_alloc_output_context2(&m_out, nullptr, muxerName(m_format), url.constData());
    if (rc < 0 || !m_out)
        return failWith(rc < 0 ? rc : AVERROR(ENOMEM));
    m_codec = avcodec_alloc_context3(codec);
    m_stream = avformat_new_stream(m_out, nullptr);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_codec || !m_stream || !m_frame || !m_packet)
        return failWith(AVERROR(ENOMEM));

    m_codec->width = size.width();
    m_codec->height = size.height();
    m_codec->pix_fmt = AV_PIX_FMT_YUV420P;
    m_codec->time_base = AVRational{1, rate};
    m_codec->framerate = AVRational{rate, 1};
    m_codec->sample_aspect_ratio = AVRational{1, 1};
    // A key frame at least every two seconds, so that a player seeks at once.
    m_codec->gop_size = 2 * rate;
    m_codec->keyint_min = 1;
    // What the conversion below does (the BT.601 matrix, limited range) and what the slides are
    // (sRGB): a player that had to guess would pick BT.709 for this size, and shift every colour.
    m_codec->colorspace = AVCOL_SPC_SMPTE170M;
    m_codec->color_range = AVCOL_RANGE_MPEG;
    m_codec->color_primaries = AVCOL_PRI_BT709;
    m_codec->color_trc = AVCOL_TRC_IEC61966_2_1;
    m_codec->thread_count = std::max(1, QThread::idealThreadCount());
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (m_format == Format::Mp4) {
        av_opt_set(m_codec->priv_data, "preset", "medium", 0);
        av_opt_set(m_codec->priv_data, "crf", "23", 0);
    } else {
        // Constant quality; "good" at speed 4 with row threads encodes at a
        // few times real time without visibly worse pictures.
        m_codec->bit_rate = 0;
        av_opt_set(m_codec->priv_data, "crf", "32", 0);
        av_opt_set(m_codec->priv_data, "deadline", "good", 0);
        av_opt_set(m_codec->priv_data, "cpu-used", "4", 0);
        av_opt_set(m_codec->priv_data, "row-mt", "1", 0);
    }
    if ((rc = avcodec_open2(m_codec, codec, nullptr)) < 0)
        return failWith(rc);
    if ((rc = avcodec_parameters_from_context(m_stream->codecpar, m_codec)) < 0)
        return failWith(rc);
    m_stream->time_base = m_codec->time_base;
    m_stream->avg_frame_rate = m_codec->framerate;
    m_stream->r_frame_rate = m_codec->framerate;

    m_frame->format = m_codec->pix_fmt;
    m_frame->width = size.width();
    m_frame->height = size.height();
    if ((rc = av_frame_get_buffer(m_frame, 0)) < 0)
        return failWith(rc);
    m_scale = sws_getContext(size.width(), size.height(), AV_PIX_FMT_BGR24, size.width(), size.height(),
                             AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!m_scale)
        return failWith(AVERROR(ENOMEM));
    // Stated rather than left to the library's defaults, since the tags above promise it.
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(m_scale, bt601, 1, bt601, 0, 0, 1 << 16, 1 << 16);

    if (m_sound && !beginSound())
        return false;
    if ((rc = avio_open(&m_out->pb, url.constData(), AVIO_FLAG_WRITE)) < 0)
        return failWith(rc);
    AVDictionary *options = nullptr;
    if (m_format == Format::Mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(m_out, &options);
    av_dict_free(&options);
    if (rc < 0)
        return failWith(rc);
    return true;
}

struct VideoFileWriter::SoundEncoding {
    std::shared_ptr<const sound::Pcm> pcm;
    AVCodecContext *codec = nullptr;
    std::thread worker;
    std::mutex mutex;
    std::condition_variable more;
    std::deque<AVPacket *> ready;   // encoded, in order, not yet written
    bool done = false;
    int error = 0;
    std::atomic<bool> stop{false};

    ~SoundEncoding()
    {
        stop = true;
        if (worker.joinable())
            worker.join();
        for (AVPacket *p : ready)
            av_packet_free(&p);
        avcodec_free_context(&codec);
    }

    void run()
    {
        AVFrame *frame = av_frame_alloc();
        AVPacket *packet = av_packet_alloc();
        int rc = frame && packet ? 0 : AVERROR(ENOMEM);
        const qint64 total = pcm->frames();
        const int size = codec->frame_size > 0 ? codec->frame_size : 1024;
        qint64 next = 0;
        while (rc >= 0 && !stop) {
            if (next < total) {
                const int n = int(std::min<qint64>(size, total - next));
                av_frame_unref(frame);
                frame->format = codec->sample_fmt;
                frame->sample_rate = sound::Rate;
                av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
                frame->nb_samples = n;
                if ((rc = av_frame_get_buffer(frame, 0)) < 0)
                    break;
                const qint16 *in = pcm->samples.data() + next * sound::Channels;
                if (codec->sample_fmt == AV_SAMPLE_FMT_S16) {
                    std::copy(in, in + qint64(n) * sound::Channels, reinterpret_cast<qint16 *>(frame->data[0]));
                } else {
                    auto *left = reinterpret_cast<float *>(frame->data[0]);
                    auto *right = reinterpret_cast<float *>(frame->data[1]);
                    for (int i = 0; i < n; ++i) {
                        left[i] = float(in[2 * i]) / 32768.0f;
                        right[i] = float(in[2 * i + 1]) / 32768.0f;
                    }
                }
                frame->pts = next;
                next += n;
                rc = avcodec_send_frame(codec, frame);
            } else {
                rc = avcodec_send_frame(codec, nullptr);
            }
            bool ended = false;
            while (rc >= 0) {
                rc = avcodec_receive_packet(codec, packet);
                if (rc == AVERROR(EAGAIN)) {
                    rc = 0;
                    break;
                }
                if (rc == AVERROR_EOF) {
                    rc = 0;
                    ended = true;
                    break;
                }
                if (rc < 0)
                    break;
                const std::lock_guard lock(mutex);
                ready.push_back(av_packet_clone(packet));
                av_packet_unref(packet);
                more.notify_all();
            }
            if (ended)
                break;
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        const std::lock_guard lock(mutex);
        error = rc < 0 ? rc : 0;
        done = true;
        more.notify_all();
    }
};

bool VideoFileWriter::beginSound()
{
    const char *name = m_format == Format::WebM ? "libopus" : "aac";
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec)
        return fail(QStringLiteral("В библиотеке FFmpeg нет кодека %1").arg(QLatin1String(name)));
    m_soundJob = std::make_unique<SoundEncoding>();
    SoundEncoding &job = *m_soundJob;
    job.pcm = m_sound;
    job.codec = avcodec_alloc_context3(codec);
    m_audioStream = avformat_new_stream(m_out, nullptr);
    if (!job.codec || !m_audioStream)
        return failWith(AVERROR(ENOMEM));
    AVCodecContext *audio = job.codec;
    audio->sample_rate = sound::Rate;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&audio->ch_layout, &stereo);
    // The encoders' own formats: planar floats for AAC, interleaved 16-bit for Opus.
    audio->sample_fmt = m_format == Format::WebM ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
    audio->bit_rate = m_format == Format::WebM ? 96000 : 128000;
    // FFmpeg's AAC encoder searches long for each block by default; its fast search sounds the same at this
    // rate.
    if (m_format == Format::Mp4)
        av_opt_set(audio->priv_data, "aac_coder", "fast", 0);
    audio->time_base = AVRational{1, sound::Rate};
    if (m_out->oformat->flags & AVFMT_GLOBALHEADER)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(audio, codec, nullptr);
    if (rc < 0 || (rc = avcodec_parameters_from_context(m_audioStream->codecpar, audio)) < 0)
        return failWith(rc);
    m_audioStream->time_base = audio->time_base;
    try {
        job.worker = std::thread([&job] { job.run(); });
    } catch (const std::system_error &) {
        return failWith(AVERROR(EAGAIN));
    }
    return true;
}

bool VideoFileWriter::writeSound(qint64 until, bool last)
{
    SoundEncoding &job = *m_soundJob;
    for (;;) {
        AVPacket *packet = nullptr;
        {
            std::unique_lock lock(job.mutex);
            // Waits for the encoder only as far as the pictures have come.
            job.more.wait(lock, [&] { return job.done || !job.ready.empty(); });
            if (job.ready.empty()) {
                if (job.error < 0)
                    return failWith(job.error);
                return true;
            }
            if (!last && job.ready.front()->pts >= until)
                return true;
            packet = job.ready.front();
            job.ready.pop_front();
        }
        av_packet_rescale_ts(packet, job.codec->time_base, m_audioStream->time_base);
        packet->stream_index = m_audioStream->index;
        const int rc = av_interleaved_write_frame(m_out, packet);
        av_packet_free(&packet);
        if (rc < 0)
            return failWith(rc);
    }
}

bool VideoFileWriter::drain()
{
    for (;;) {
        int rc = avcodec_receive_packet(m_codec, m_packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return failWith(rc);
        // Every frame lasts one frame time, the last one included.
        if (m_packet->duration <= 0)
            m_packet->duration = 1;
        av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        rc = av_interleaved_write_frame(m_out, m_packet);
        if (rc < 0)
            return failWith(rc);
        if (m_out->pb && m_out->pb->error < 0)
            return failWith(m_out->pb->error);
    }
}

bool VideoFileWriter::addFrame(const Frame &frame, int duration)
{
    if (!m_codec || !m_error.isEmpty())
        return fail(QStringLiteral("Запись не начата"));
    if (frame.size != m_size)
        return fail(QStringLiteral("Кадры разного размера"));
    int rc = av_frame_make_writable(m_frame);
    if (rc < 0)
        return failWith(rc);
    const uint8_t *src[1] = {frame.bgr};
    const int srcStride[1] = {int(frame.stride)};
    sws_scale(m_scale, src, srcStride, 0, m_size.height(), m_frame->data, m_frame->linesize);
    // A slide is sent as equal frames of one frame time each, as many as it lasts (times the raise of the
    // container's rate), so the rate stays constant in every player and the last slide shows for its
    // whole time; the encoder makes the repeats cost next to nothing.
    const int frames = std::max(1, duration) * std::max(1, m_repeats);
    for (int k = 0; k < frames; ++k) {
        m_frame->pts = m_pts;
        m_frame->pkt_duration = 1;
        ++m_pts;
        if ((rc = avcodec_send_frame(m_codec, m_frame)) < 0)
            return failWith(rc);
        if (!drain())
            return false;
    }
    // The sound keeps pace with the pictures, so that the file interleaves them as a player reads them.
    if (m_sound && !writeSound(m_pts * sound::Rate / m_rate, false))
        return false;
    return true;
}

bool VideoFileWriter::finish()
{
    if (!m_codec || !m_error.isEmpty()) {
        abort();
        return fail(QStringLiteral("Нет кадров"));
    }
    if (m_sound && !writeSound(m_sound->frames(), true)) {
        abort();
        return false;
    }
    int rc = avcodec_send_frame(m_codec, nullptr);
    if (rc < 0 || !drain()) {
        if (rc < 0)
            failWith(rc);
        abort();
        return false;
    }
    rc = av_write_trailer(m_out);
    if (rc >= 0 && m_out->pb->error < 0)
        rc = m_out->pb->error;
    const int closed = avio_closep(&m_out->pb);
    if (rc >= 0)
        rc = closed;
    if (rc < 0) {
        failWith(rc);
        abort();
        return false;
    }
    release();
    if (!m_file.commit())
        return fail(m_file.error());
    return true;
}

void VideoFileWriter::release()
{
    if (m_out && m_out->pb)
        avio_closep(&m_out->pb);
    avformat_free_context(m_out);
    m_out = nullptr;
    m_stream = nullptr;
    avcodec_free_context(&m_codec);
    m_soundJob.reset();
    m_audioStream = nullptr;
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    sws_freeContext(m_scale);
    m_scale = nullptr;
}

void VideoFileWriter::abort()
{
    release();
    m_file.discard();
}

} // namespace exporting
