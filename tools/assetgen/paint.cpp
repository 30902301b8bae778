#include "paint.h"

#include "anigif/GifWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace assetgen {

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "assetgen: %s\n", qPrintable(what));
    std::exit(1);
}

QImage blankImage(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t,
                            a.alphaF() + (b.alphaF() - a.alphaF()) * t);
}

void inkPen(QPainter &p, double width, const QColor &c)
{
    if (width <= 0) {
        p.setPen(Qt::NoPen);
        return;
    }
    QPen pen(c, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
}

void shape(QPainter &p, const QPainterPath &path, const QColor &fill, double outline, const QColor &ink)
{
    inkPen(p, outline, ink);
    p.setBrush(fill);
    p.drawPath(path);
}

void ellipse(QPainter &p, QPointF c, double rx, double ry, const QColor &fill, double outline)
{
    QPainterPath path;
    path.addEllipse(c, rx, ry);
    shape(p, path, fill, outline);
}

void roundRect(QPainter &p, QRectF r, double radius, const QColor &fill, double outline)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    shape(p, path, fill, outline);
}

QPainterPath starPath(QPointF c, double outer, double inner, double rotationDeg)
{
    QPainterPath path;
    for (int i = 0; i < 10; ++i) {
        const double a = (rotationDeg + i * 36.0) * M_PI / 180.0;
        const double r = (i % 2) ? inner : outer;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
}

void limb(QPainter &p, QPointF pivot, double angleDeg, double len, double width,
          const QColor &fill, const std::function<void(QPainter &)> &tip)
{
    p.save();
    p.translate(pivot);
    p.rotate(-angleDeg);
    QPainterPath path;
    path.addRoundedRect(QRectF(-width / 2, -width / 2, width, len + width / 2), width / 2, width / 2);
    shape(p, path, fill);
    if (tip) {
        p.translate(0, len);
        tip(p);
    }
    p.restore();
}

void hardenAlpha(QImage &img)
{
    img = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = line[x];
            line[x] = qAlpha(c) >= 128 ? (c | 0xFF000000u) : 0u;
        }
    }
}

namespace {

struct Entry {
    QRgb colour;
    int count;
};

int channel(QRgb c, int ch)
{
    return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c);
}

struct Box {
    int begin, end; // range in the entry vector
    int widest = 0, spread = 0;
    long long weight = 0;
};

void measure(const std::vector<Entry> &e, Box &b)
{
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    b.weight = 0;
    for (int i = b.begin; i < b.end; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            lo[ch] = std::min(lo[ch], channel(e[i].colour, ch));
            hi[ch] = std::max(hi[ch], channel(e[i].colour, ch));
        }
        b.weight += e[i].count;
    }
    b.spread = -1;
    for (int ch = 0; ch < 3; ++ch)
        if (hi[ch] - lo[ch] > b.spread) {
            b.spread = hi[ch] - lo[ch];
            b.widest = ch;
        }
}

} // namespace

QList<QRgb> quantize(QList<QImage> &frames, int maxColours)
{
    QHash<QRgb, int> histogram;
    for (QImage &f : frames) {
        f = f.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < f.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(f.constScanLine(y));
            for (int x = 0; x < f.width(); ++x)
                if (qAlpha(line[x]) == 255)
                    ++histogram[line[x]];
        }
    }
    // Sorted so that the result does not depend on hash order.
    std::vector<Entry> entries;
    for (auto it = histogram.cbegin(); it != histogram.cend(); ++it)
        entries.push_back({it.key(), it.value()});
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.colour < b.colour; });

    QList<QRgb> palette;
    if (int(entries.size()) <= maxColours) {
        for (const Entry &e : entries)
            palette.append(e.colour);
        return palette;
    }

    std::vector<Box> boxes;
    Box all{0, int(entries.size())};
    measure(entries, all);
    boxes.push_back(all);
    while (int(boxes.size()) < maxColours) {
        // Split the box whose colours differ most, weighted by how much of
        // the picture it covers, so large flat areas keep their exact tone.
        int pick = -1;
        double best = 0;
        for (int i = 0; i < int(boxes.size()); ++i) {
            if (boxes[i].end - boxes[i].begin < 2)
                continue;
            const double score = boxes[i].spread * std::sqrt(double(boxes[i].weight));
            if (pick < 0 || score > best) {
                best = score;
                pick = i;
            }
        }
        if (pick < 0)
            break;
        Box b = boxes[pick];
        const int ch = b.widest;
        std::sort(entries.begin() + b.begin, entries.begin() + b.end, [ch](const Entry &x, const Entry &y) {
            const int cx = channel(x.colour, ch), cy = channel(y.colour, ch);
            return cx != cy ? cx < cy : x.colour < y.colour;
        });
        long long acc = 0;
        int cut = b.begin + 1;
        for (int i = b.begin; i < b.end - 1; ++i) {
            acc += entries[i].count;
            cut = i + 1;
            if (acc * 2 >= b.weight)
                break;
        }
        Box left{b.begin, cut}, right{cut, b.end};
        measure(entries, left);
        measure(entries, right);
        boxes[pick] = left;
        boxes.push_back(right);
    }

    for (const Box &b : boxes) {
        // The most used colour of a box stands for it: flat fills keep their
        // exact palette colour instead of drifting towards edge blends.
        int bestIdx = b.begin;
        for (int i = b.begin; i < b.end; ++i)
            if (entries[i].count > entries[bestIdx].count)
                bestIdx = i;
        palette.append(entries[bestIdx].colour);
    }

    QHash<QRgb, QRgb> nearest;
    for (const Entry &e : entries) {
        int bestD = INT32_MAX;
        QRgb bestC = palette.first();
        for (QRgb c : palette) {
            const int dr = qRed(c) - qRed(e.colour), dg = qGreen(c) - qGreen(e.colour), db = qBlue(c) - qBlue(e.colour);
            const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
            if (d < bestD) {
                bestD = d;
                bestC = c;
            }
        }
        nearest.insert(e.colour, bestC);
    }
    for (QImage &f : frames)
        for (int y = 0; y < f.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(f.scanLine(y));
            for (int x = 0; x < f.width(); ++x)
                if (qAlpha(line[x]) == 255)
                    line[x] = nearest.value(line[x]);
        }
    return palette;
}

void ensureDirFor(const QString &path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        fail(QStringLiteral("cannot create folder for %1").arg(path));
}

void writeAnimation(const QString &path, QList<QImage> frames, const QList<int> &delaysCs)
{
    if (frames.isEmpty())
        fail(QStringLiteral("no frames for %1").arg(path));
    for (QImage &f : frames)
        hardenAlpha(f);
    anigif::GifDocument doc;
    doc.screen = frames.first().size();
    // 255 opaque colours leave one slot for the transparent index.
    doc.globalPalette = quantize(frames, 255);
    doc.loopCount = frames.size() > 1 ? 0 : -1;
    for (int i = 0; i < frames.size(); ++i) {
        anigif::GifFrame gf;
        gf.image = frames[i];
        gf.offset = QPoint(0, 0);
        gf.delayCs = delaysCs.isEmpty() ? 10 : delaysCs[std::min<int>(i, delaysCs.size() - 1)];
        gf.disposal = frames.size() > 1 ? anigif::Disposal::Background : anigif::Disposal::None;
        doc.frames.append(gf);
    }
    ensureDirFor(path);
    const QString err = anigif::writeGif(path, doc);
    if (!err.isEmpty())
        fail(QStringLiteral("%1: %2").arg(path, err));
}

void writeStill(const QString &path, QImage image)
{
    writeAnimation(path, {image}, {0});
}

void saveImage(const QImage &img, const QString &path, const char *format, int quality)
{
    ensureDirFor(path);
    if (!img.save(path, format, quality))
        fail(QStringLiteral("cannot write %1").arg(path));
}

} // namespace assetgen
