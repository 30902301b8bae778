#include "sound/Player.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <cstring>
#include <limits>

namespace sound {

// The mix handed to the sink as it asks for it, round and round, so that the loop of the cartoon is
// heard without a gap that restarting the sink would leave.
class PcmFeed : public QIODevice {
public:
    PcmFeed(std::shared_ptr<const Pcm> pcm, qint64 from, bool loop) : m_pcm(std::move(pcm)), m_loop(loop)
    {
        const qint64 frames = m_pcm ? m_pcm->frames() : 0;
        m_cursor = frames > 0 ? std::clamp<qint64>(from, 0, frames - 1) : 0;
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return std::numeric_limits<int>::max() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        constexpr qint64 FrameBytes = Channels * qint64(sizeof(qint16));
        const qint64 wanted = maxSize / FrameBytes;
        const qint64 frames = m_pcm ? m_pcm->frames() : 0;
        qint64 done = 0;
        while (done < wanted) {
            // Played once, silence follows the end until the player sees the last frame heard and stops.
            if (frames == 0 || m_ended) {
                std::memset(data, 0, size_t((wanted - done) * FrameBytes));
                done = wanted;
                break;
            }
            const qint64 n = std::min(wanted - done, frames - m_cursor);
            std::memcpy(data + done * FrameBytes, m_pcm->samples.data() + m_cursor * Channels, size_t(n * FrameBytes));
            done += n;
            m_cursor = (m_cursor + n) % frames;
            m_ended = !m_loop && m_cursor == 0;
        }
        return done * FrameBytes;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::shared_ptr<const Pcm> m_pcm;
    qint64 m_cursor = 0;
    bool m_loop = true;
    bool m_ended = false;
};

Player::Player(QObject *parent) : QObject(parent)
{
    m_endCheck.setInterval(40);
    connect(&m_endCheck, &QTimer::timeout, this, &Player::checkEnd);
}

Player::~Player()
{
    stop();
}

bool Player::available()
{
    return !QMediaDevices::defaultAudioOutput().isNull();
}

void Player::play(std::shared_ptr<const Pcm> pcm, qint64 from, bool loop)
{
    stop();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    QAudioFormat format;
    format.setSampleRate(Rate);
    format.setChannelCount(Channels);
    format.setSampleFormat(QAudioFormat::Int16);
    m_endFrames = loop ? -1 : std::max<qint64>(0, (pcm ? pcm->frames() : 0) - std::max<qint64>(0, from));
    m_feed = std::make_unique<PcmFeed>(std::move(pcm), from, loop);
    m_feed->open(QIODevice::ReadOnly);
    m_sink = new QAudioSink(device, format, this);
    // The sink's own buffer size is kept: a much shorter one made PulseAudio's stream stall after its
    // first fill.
    m_sink->start(m_feed.get());
    m_wall.start();
    m_played = PlayedClock();
    if (!loop)
        m_endCheck.start();
}

void Player::checkEnd()
{
    if (!m_sink || failed() || heard() >= m_endFrames) {
        stop();
        emit finished();
    }
}

void Player::stop()
{
    m_endCheck.stop();
    if (m_sink) {
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
    }
    m_feed.reset();
}

bool Player::failed() const
{
    return m_sink && m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError;
}

qint64 Player::heard() const
{
    if (!m_sink)
        return 0;
    const qint64 processed = m_sink->processedUSecs();
    if (processed <= 0)
        return 0;
    return m_played.at(processed, m_wall.nsecsElapsed() / 1000) * Rate / 1000000;
}

qint64 PlayedClock::at(qint64 processedUs, qint64 wallUs)
{
    // The leads kept fall from the oldest to the newest, so the oldest one in the window is the largest.
    const qint64 lead = processedUs - wallUs;
    while (!m_leads.empty() && m_leads.back().second <= lead)
        m_leads.pop_back();
    m_leads.emplace_back(wallUs, lead);
    while (m_leads.front().first < wallUs - WindowUs)
        m_leads.pop_front();
    m_lastUs = std::max({m_lastUs, processedUs, wallUs + m_leads.front().second});
    return m_lastUs;
}

} // namespace sound
