#include "anigif/AniGif.h"

#include "anigif/GifDecoder.h"
#include "controls/Twips.h"

#include <QPainter>
#include <QVariant>

namespace anigif {

AniGif::AniGif(QWidget *parent) : QWidget(parent)
{
    // One shot per frame, because every frame of a GIF has its own delay.
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AniGif::advance);
}

bool AniGif::LoadFile(const QString &path)
{
    DecodedGif gif;
    const bool ok = loadGifFile(path, &gif) == GifLoad::Ok;
    // A failed load must not keep showing the previous picture: an empty result clears it.
    setGif(std::move(gif));
    return ok;
}

bool AniGif::loadData(const QByteArray &data)
{
    DecodedGif gif;
    const bool ok = !data.isEmpty() && decodeGif(data, &gif);
    gif.source = data;
    // A failed load must not keep showing the previous picture: an empty result clears it.
    setGif(std::move(gif));
    return ok;
}

void AniGif::setGif(DecodedGif gif)
{
    m_timer.stop();
    m_frames = std::move(gif.frames);
    m_delaysMs = std::move(gif.delaysMs);
    m_source = std::move(gif.source);
    m_size = m_frames.isEmpty() ? QSize() : gif.screen;
    m_current = 0;
    if (m_autoSize)
        fitToGif();
    scheduleNext();
    update();
}

bool AniGif::Playing() const { return m_playing; }

void AniGif::setPlaying(bool on)
{
    if (on == m_playing)
        return;
    m_playing = on;
    m_timer.stop();
    scheduleNext();
}

int AniGif::CurrentFrame() const { return m_current; }

void AniGif::setCurrentFrame(int frame)
{
    if (frame < 0 || frame >= m_frames.size() || frame == m_current)
        return;
    showFrame(frame);
}

int AniGif::FrameCount() const { return int(m_frames.size()); }

bool AniGif::AutoSize() const { return m_autoSize; }

void AniGif::setAutoSize(bool on)
{
    m_autoSize = on;
    if (on)
        fitToGif();
}

int AniGif::SizeMode() const { return m_sizeMode; }

void AniGif::setSizeMode(int mode)
{
    m_sizeMode = mode;
    update();
}

QSize AniGif::gifSize() const { return m_size; }

int AniGif::frameDelayMs(int frame) const
{
    return frame >= 0 && frame < m_delaysMs.size() ? m_delaysMs[frame] : 0;
}

QImage AniGif::frameImage(int frame) const
{
    return frame >= 0 && frame < m_frames.size() ? m_frames[frame] : QImage();
}

void AniGif::copySettingsFrom(const AniGif &other)
{
    m_autoSize = other.m_autoSize;
    setSizeMode(other.m_sizeMode);
}

void AniGif::paintEvent(QPaintEvent *)
{
    // No background: the GIF's transparent parts show the parent through.
    if (m_frames.isEmpty())
        return;
    QPainter painter(this);
    const QImage &image = m_frames[m_current];
    if (m_sizeMode == 2) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), image);
    } else {
        painter.drawImage(0, 0, image);
    }
}

void AniGif::advance()
{
    if (!m_playing || m_frames.size() <= 1)
        return;
    showFrame((m_current + 1) % int(m_frames.size()));
}

void AniGif::showFrame(int frame)
{
    m_current = frame;
    update();
    scheduleNext();
    emit FrameChanged(property("index").toInt());
}

void AniGif::scheduleNext()
{
    if (m_playing && m_frames.size() > 1)
        m_timer.start(m_delaysMs[m_current]);
}

void AniGif::fitToGif()
{
    if (!m_frames.isEmpty())
        twips::resize(this, twips::fromPixels(m_size.width()), twips::fromPixels(m_size.height()));
}

} // namespace anigif
