#pragma once
// Slides for the export tests: a cartoon of a few flat colours with a square
// that moves, and the same over a photo-like background of thousands of colours.

#include <QDir>
#include <QImage>
#include <QPainter>

#include "export/ExportJob.h"
#include "slides/SlideSource.h"
#include "slides/SlideStore.h"

namespace kit {

inline QImage cartoon(int i, bool photo = false)
{
    QImage image(slides::SlideWidth, slides::SlideHeight, QImage::Format_RGB32);
    if (photo) {
        for (int y = 0; y < image.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = qRgb(x * 255 / 395, y * 255 / 345, 128 + (x + y) % 7);
        }
    } else {
        image.fill(qRgb(120, 190, 240));
    }
    QPainter p(&image);
    p.fillRect(0, 260, 396, 86, QColor(60, 160, 40));
    p.fillRect(10 + 7 * i % 300, 150, 40, 60, QColor(200, 30, 30));
    p.fillRect(300 - 5 * i % 250, 60, 24, 24, QColor(250, 220, 0));
    return image;
}

inline void fill(slides::SlideStore &store, int count, bool photo = false)
{
    for (int i = 1; i <= count; ++i)
        store.append(cartoon(i, photo));
}

// Everything in a folder, hidden files included: a failed export leaves nothing.
inline QStringList leftIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

class CancelAt : public exporting::Progress {
public:
    explicit CancelAt(int step) : m_step(step) {}
    void report(int done, int) override { m_done = done; }
    bool cancelled() const override { return m_step >= 0 && m_done >= m_step; }

private:
    int m_step;
    int m_done = 0;
};

} // namespace kit
