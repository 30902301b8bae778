#include "anigif/AniGif.h"

#include "anigif/GifDecoder.h"
#include "controls/Twips.h"

#include <QFile>
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        loadData(QByteArray());
        return false;
    }
    return loadData(file.readAll());
}

bool AniGif::loadData(const QByteArray &data)
{
    m_timer.stop();
    DecodedGif gif;
    const bool ok = !data.isEmpty() && decodeGif(data, &gif);
    // A failed load must not keep showing the previous picture.
    m_frames = gif.frames;
    m_delaysMs = gif.delaysMs;
    m_size = ok ? gif.screen : QSize();
    m_current = 0;
    if (ok && m_autoSize)
        twips::resize(this, twips::fromPixels(m_size.width()), twips::fromPixels(m_size.height()));
    if (m_playing && m_frames.size() > 1)
        m_timer.start(m_delaysMs[0]);
    update();
    return ok;
}

bool AniGif::Playing() const { return m_playing; }

void AniGif::setPlaying(bool on)
{
    if (on == m_playing)
        return;
    m_playing = on;
    if (on && m_frames.size() > 1)
        m_timer.start(m_delaysMs[m_current]);
    else
        m_timer.stop();
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
    if (on && !m_frames.isEmpty())
        twips::resize(this, twips::fromPixels(m_size.width()), twips::fromPixels(m_size.height()));
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
    if (m_playing && m_frames.size() > 1)
        m_timer.start(m_delaysMs[frame]);
    emit FrameChanged(property("index").toInt());
}

} // namespace anigif
