#include "TestCommon.h"

#include <QDir>
#include <QProcess>
#include <QFile>
#include <QPainter>

#include "slides/SlideSource.h"

namespace testcommon {

QImage flatSlide(int i)
{
    QImage image(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
    image.fill(qRgb(120, 190, 240));
    QPainter p(&image);
    p.setPen(Qt::NoPen);
    p.fillRect(0, 250, 396, 96, QColor(70, 160, 60));
    p.setBrush(QColor(250, 220, 0));
    p.drawEllipse(QPoint(330, 50), 30, 30);
    p.setBrush(QColor(230, 80, 40));
    p.drawEllipse(QRect(10 + 3 * i % 330, 190 - (i % 20) * (20 - i % 20) / 4, 50, 60));
    p.fillRect(380 - 2 * i % 360, 120, 30 + i % 10, 40, QColor(90, 60, 160));
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QRect((i * 5) % 500 - 100, 30, 90, 30));
    return image;
}

QImage stageSlide(int t)
{
    QImage img(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
    const int shift = t / 40;
    for (int y = 0; y < img.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            row[x] = qRgb((x * 7 + y + shift * 31) & 255, (y * 3 + shift * 17) & 255, (x ^ y) & 255);
    }
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 30; ++x)
            img.setPixel((t * 5 + x) % img.width(), 100 + y, qRgb(200, t & 255, 30));
    return img;
}

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QColor frameColour(int i)
{
    static const QRgb colours[] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffff00,
                                   0xffff00ff, 0xff00ffff, 0xff800000, 0xff008000,
                                   0xff000080, 0xff808000, 0xff800080, 0xff008080};
    return QColor::fromRgb(colours[i % 12]);
}

QString writeSimpleGif(const QString &dir, const QString &name, QSize size, int frames, int delayCs)
{
    anigif::GifDocument doc;
    doc.screen = size;
    for (int i = 0; i < frames; ++i) {
        anigif::GifFrame f;
        f.image = solid(size, frameColour(i));
        f.delayCs = delayCs;
        doc.frames.append(f);
    }
    const QString path = QDir(dir).filePath(name);
    anigif::writeGif(path, doc);
    return path;
}

QByteArray squareWav(int frames, qint16 level, int period)
{
    QByteArray pcm;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c) {
            const qint16 v = period == 0 ? 0 : (i / (period / 2)) % 2 ? level : qint16(-level);
            pcm.append(reinterpret_cast<const char *>(&v), 2);
        }
    QByteArray wav("RIFF");
    const auto u32 = [&wav](quint32 v) { wav.append(reinterpret_cast<const char *>(&v), 4); };
    const auto u16 = [&wav](quint16 v) { wav.append(reinterpret_cast<const char *>(&v), 2); };
    u32(36 + quint32(pcm.size()));
    wav.append("WAVEfmt ");
    u32(16), u16(1), u16(2), u32(48000), u32(48000 * 4), u16(4), u16(16);
    wav.append("data");
    u32(quint32(pcm.size()));
    return wav + pcm;
}

std::vector<qint16> soundOf(const QString &film)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", film, "-vn", "-ac", "1", "-ar", "48000", "-f", "s16le", "-"});
    ffmpeg.waitForFinished(60000);
    const QByteArray raw = ffmpeg.readAllStandardOutput();
    const auto *v = reinterpret_cast<const qint16 *>(raw.constData());
    return std::vector<qint16>(v, v + raw.size() / 2);
}

QList<double> onsetsMs(const std::vector<qint16> &samples, int level)
{
    QList<double> out;
    for (size_t i = 0; i < samples.size(); ++i)
        if (qAbs(samples[i]) > level) {
            out << i / 48.0;
            i += 48000 / 2;
        }
    return out;
}

QString writeBytes(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

} // namespace testcommon
