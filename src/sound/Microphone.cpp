#include "sound/Microphone.h"

#include <QAudioSource>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sound/Sound.h"

namespace sound {

namespace {

qint16 sampleAt(const char *p, QAudioFormat::SampleFormat f)
{
    switch (f) {
    case QAudioFormat::UInt8:
        return qint16((int(quint8(*p)) - 128) << 8);
    case QAudioFormat::Int16: {
        qint16 v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case QAudioFormat::Int32: {
        qint32 v;
        std::memcpy(&v, p, sizeof v);
        return qint16(v >> 16);
    }
    case QAudioFormat::Float: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return qint16(std::lround(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
    }
    default:
        return 0;
    }
}

QString refused()
{
    return QStringLiteral("Не удалось включить микрофон: система не дала к нему доступа или он занят другой "
                          "программой.");
}

// The default input through Qt Multimedia, asked for the program's own format first; a device that offers
// only another one is converted.
class SystemMicrophone : public Microphone {
public:
    explicit SystemMicrophone(QAudioDevice device) : m_device(std::move(device)), m_converter(QAudioFormat()) {}
    ~SystemMicrophone() override { stop(); }

    bool start(QString &error) override
    {
        stop();
        QAudioFormat format;
        format.setSampleRate(Rate);
        format.setChannelCount(Channels);
        format.setSampleFormat(QAudioFormat::Int16);
        if (!m_device.isFormatSupported(format))
            format = m_device.preferredFormat();
        if (!format.isValid()) {
            error = refused();
            return false;
        }
        m_converter = InputConverter(format);
        m_source = new QAudioSource(m_device, format, this);
        m_io = m_source->start();
        if (!m_io || m_source->error() != QAudio::NoError) {
            error = refused();
            stop();
            return false;
        }
        connect(m_io, &QIODevice::readyRead, this, [this] {
            const QByteArray pcm = m_converter.convert(m_io->readAll());
            if (!pcm.isEmpty())
                emit heard(pcm);
        });
        connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError) {
                stop();
                emit failed(QStringLiteral("Микрофон перестал отвечать; запись остановлена."));
            }
        });
        return true;
    }

    void stop() override
    {
        if (!m_source)
            return;
        QAudioSource *source = std::exchange(m_source, nullptr);
        m_io = nullptr;
        source->disconnect(this);
        source->stop();
        source->deleteLater();
    }

private:
    QAudioDevice m_device;
    InputConverter m_converter;
    QAudioSource *m_source = nullptr;
    QIODevice *m_io = nullptr;
};

} // namespace

std::unique_ptr<Microphone> defaultMicrophone()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<SystemMicrophone>(device);
}

QByteArray InputConverter::convert(const QByteArray &piece)
{
    const int frameBytes = m_format.bytesPerFrame();
    const int channels = m_format.channelCount();
    const int rate = m_format.sampleRate();
    if (frameBytes <= 0 || channels <= 0 || rate <= 0)
        return {};
    const QAudioFormat::SampleFormat f = m_format.sampleFormat();
    const int sampleBytes = m_format.bytesPerSample();
    // A frame split between two pieces waits for its end.
    const QByteArray raw = m_rest + piece;
    const qint64 in = raw.size() / frameBytes;
    m_rest = raw.right(raw.size() - in * frameBytes);
    // The nearest input frame to each output frame: voice heard through a device of another rate only.
    const double step = double(rate) / Rate;
    QByteArray out;
    out.reserve(int(double(in) / step + 2) * Channels * 2);
    for (; m_pos < double(in); m_pos += step) {
        const char *frame = raw.constData() + qint64(m_pos) * frameBytes;
        const qint16 both[Channels] = {sampleAt(frame, f), sampleAt(frame + (channels > 1 ? sampleBytes : 0), f)};
        out.append(reinterpret_cast<const char *>(both), sizeof both);
    }
    m_pos -= double(in);
    return out;
}

} // namespace sound
