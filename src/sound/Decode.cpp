#include "sound/Sound.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace sound {

namespace {

// The containers and codecs of the sounds a person brings. FFmpeg reads many more; a file that claims to be
// one of those is refused before any of their code runs.
constexpr const char *Containers = "wav,mp3,ogg,flac";
constexpr AVCodecID Codecs[] = {
    AV_CODEC_ID_MP3,       AV_CODEC_ID_VORBIS,    AV_CODEC_ID_OPUS,      AV_CODEC_ID_FLAC,
    AV_CODEC_ID_PCM_U8,    AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S24LE, AV_CODEC_ID_PCM_S32LE,
    AV_CODEC_ID_PCM_F32LE, AV_CODEC_ID_PCM_F64LE, AV_CODEC_ID_PCM_ALAW,  AV_CODEC_ID_PCM_MULAW,
    AV_CODEC_ID_ADPCM_MS,  AV_CODEC_ID_ADPCM_IMA_WAV,
};

// The bytes, read by FFmpeg through callbacks: nothing of the file system is reachable from here.
struct Reader {
    const QByteArray &bytes;
    qint64 at = 0;
};

int readPacket(void *opaque, uint8_t *to, int size)
{
    auto *r = static_cast<Reader *>(opaque);
    const qint64 left = r->bytes.size() - r->at;
    if (left <= 0)
        return AVERROR_EOF;
    const int n = int(std::min<qint64>(size, left));
    std::memcpy(to, r->bytes.constData() + r->at, size_t(n));
    r->at += n;
    return n;
}

int64_t seekTo(void *opaque, int64_t offset, int whence)
{
    auto *r = static_cast<Reader *>(opaque);
    const qint64 size = r->bytes.size();
    if (whence == AVSEEK_SIZE)
        return size;
    qint64 to = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        to = offset;
        break;
    case SEEK_CUR:
        to = r->at + offset;
        break;
    case SEEK_END:
        to = size + offset;
        break;
    default:
        return -1;
    }
    if (to < 0 || to > size)
        return -1;
    r->at = to;
    return to;
}

// Everything FFmpeg hands out for one decoding, let go in the right order whatever way it ends.
struct Session {
    AVIOContext *io = nullptr;
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    SwrContext *resampler = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    ~Session()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&resampler);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

} // namespace

qint64 frameStart(qint64 frame, int fps)
{
    return fps > 0 ? (frame * Rate + fps / 2) / fps : 0;
}

Decoded decode(const QByteArray &bytes, const QString &name, qint64 maxFrames, const std::atomic<bool> *cancel)
{
    Decoded out;
    const auto fail = [&](const QString &why) {
        out.pcm = {};
        out.cut = false;
        out.error = QStringLiteral("Звук «%1» %2").arg(name, why);
        return out;
    };
    const QString notSound = QStringLiteral("не удалось прочитать: это не звук или его вид не поддерживается "
                                            "(можно WAV, MP3, OGG и FLAC).");
    const QString damaged = QStringLiteral("повреждён и не может быть прочитан.");
    const QString empty = QStringLiteral("пуст: в нём нет звука.");
    if (bytes.isEmpty())
        return fail(empty);

    Reader reader{bytes};
    Session s;
    constexpr int IoBytes = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(IoBytes));
    if (!buffer)
        return fail(damaged);
    s.io = avio_alloc_context(buffer, IoBytes, 0, &reader, readPacket, nullptr, seekTo);
    s.format = avformat_alloc_context();
    if (!s.io || !s.format) {
        if (!s.io)
            av_free(buffer);
        return fail(damaged);
    }
    s.format->pb = s.io;
    s.format->format_whitelist = av_strdup(Containers);
    // On failure FFmpeg frees the context and clears the pointer.
    if (avformat_open_input(&s.format, nullptr, nullptr, nullptr) < 0)
        return fail(notSound);
    if (avformat_find_stream_info(s.format, nullptr) < 0)
        return fail(damaged);
    const int stream = av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0)
        return fail(notSound);
    const AVCodecParameters *par = s.format->streams[stream]->codecpar;
    if (std::find(std::begin(Codecs), std::end(Codecs), par->codec_id) == std::end(Codecs))
        return fail(notSound);
    const AVCodec *decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder || !(s.codec = avcodec_alloc_context3(decoder)) || avcodec_parameters_to_context(s.codec, par) < 0)
        return fail(notSound);
    s.codec->thread_count = 1;
    if (avcodec_open2(s.codec, decoder, nullptr) < 0)
        return fail(damaged);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.packet || !s.frame)
        return fail(damaged);

    std::vector<qint16> &pcm = out.pcm.samples;
    const qint64 limit = std::max<qint64>(0, maxFrames);
    // The conversion is set up by the first frame, whose layout, format and rate are then known; a stream
    // that changes them on the way ends there, with what came before it.
    int inFormat = -1, inRate = 0, inChannels = 0;
    bool ended = false;   // the limit was reached, or the stream changed its form
    const auto convert = [&](const AVFrame *f) {
        if (!s.resampler) {
            if (!f)
                return;
            AVChannelLayout in{};
            if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_check(&f->ch_layout) == 0)
                av_channel_layout_default(&in, f->ch_layout.nb_channels);
            else
                av_channel_layout_copy(&in, &f->ch_layout);
            AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
            const bool made = swr_alloc_set_opts2(&s.resampler, &stereo, AV_SAMPLE_FMT_S16, Rate, &in,
                                                  AVSampleFormat(f->format), f->sample_rate, 0, nullptr) >= 0 &&
                              swr_init(s.resampler) >= 0;
            av_channel_layout_uninit(&in);
            if (!made) {
                ended = true;
                return;
            }
            inFormat = f->format;
            inRate = f->sample_rate;
            inChannels = f->ch_layout.nb_channels;
        } else if (f && (f->format != inFormat || f->sample_rate != inRate || f->ch_layout.nb_channels != inChannels)) {
            ended = true;
            return;
        }
        const int room = swr_get_out_samples(s.resampler, f ? f->nb_samples : 0);
        if (room <= 0)
            return;
        const size_t at = pcm.size();
        pcm.resize(at + size_t(room) * Channels);
        auto *to = reinterpret_cast<uint8_t *>(pcm.data() + at);
        const int got = swr_convert(s.resampler, &to, room, f ? const_cast<const uint8_t **>(f->extended_data) : nullptr,
                                    f ? f->nb_samples : 0);
        pcm.resize(at + size_t(std::max(got, 0)) * Channels);
        if (out.pcm.frames() >= limit)
            ended = true;
    };
    const auto drain = [&] {
        while (!ended && avcodec_receive_frame(s.codec, s.frame) >= 0) {
            convert(s.frame);
            av_frame_unref(s.frame);
        }
    };
    while (!ended) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(QStringLiteral("не прочитан: чтение остановлено."));
        // The end of the bytes, or bytes that stop making sense (a file cut short): what came before stays.
        if (av_read_frame(s.format, s.packet) < 0)
            break;
        // A damaged packet is skipped; the decoder picks up at the next one.
        if (s.packet->stream_index == stream && avcodec_send_packet(s.codec, s.packet) >= 0)
            drain();
        av_packet_unref(s.packet);
    }
    if (!ended) {
        avcodec_send_packet(s.codec, nullptr);
        drain();
        if (!ended)
            convert(nullptr);
    }
    if (out.pcm.frames() > limit) {
        pcm.resize(size_t(limit) * Channels);
        out.cut = true;
    } else if (ended && out.pcm.frames() == limit) {
        out.cut = true;
    }
    if (pcm.empty())
        return fail(limit == 0 ? empty : s.resampler ? empty : damaged);
    return out;
}

} // namespace sound
